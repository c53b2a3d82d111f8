#include "build_config.h"
#include "platform/linux/linux_platform.h"

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <webkit2/webkit2.h>

namespace brindle::native {

namespace {

// Each menu item is an application action of this name.
constexpr std::array<std::pair<MenuAction, char const*>, 8> actionNames { {
    { MenuAction::about, "about" },
    { MenuAction::showWindow, "show-window" },
    { MenuAction::hide, "hide" },
    { MenuAction::quit, "quit" },
    { MenuAction::cut, "cut" },
    { MenuAction::copy, "copy" },
    { MenuAction::paste, "paste" },
    { MenuAction::selectAll, "select-all" },
} };

char const* actionName(MenuAction action)
{
    for (auto const& [known, name] : actionNames) {
        if (known == action)
            return name;
    }
    return "unknown";
}

std::optional<MenuAction> actionNamed(char const* name)
{
    for (auto const& [action, known] : actionNames) {
        if (g_strcmp0(known, name) == 0)
            return action;
    }
    return std::nullopt;
}

} // namespace

void LinuxPlatform::perform(MenuAction action)
{
    switch (action) {
    case MenuAction::about:
        showAbout();
        break;
    case MenuAction::showWindow:
        if (delegate_)
            delegate_->showWindow();
        break;
    case MenuAction::hide:
        hideAllWindows();
        break;
    case MenuAction::quit:
        requestQuit();
        break;
    case MenuAction::cut:
        runEditingCommand(WEBKIT_EDITING_COMMAND_CUT);
        break;
    case MenuAction::copy:
        runEditingCommand(WEBKIT_EDITING_COMMAND_COPY);
        break;
    case MenuAction::paste:
        runEditingCommand(WEBKIT_EDITING_COMMAND_PASTE);
        break;
    case MenuAction::selectAll:
        runEditingCommand(WEBKIT_EDITING_COMMAND_SELECT_ALL);
        break;
    }
}

// Each menu becomes a submenu of the menubar; separators split it into GMenu sections. Each
// item's action is an application action, and its key, taken with Ctrl, an accelerator.
void LinuxPlatform::installMainMenu(MainMenu const& menu)
{
    auto menubar = adopt(g_menu_new());
    for (auto const& submenu : menu.menus) {
        auto items = adopt(g_menu_new());
        auto section = adopt(g_menu_new());
        auto closeSection = [&] {
            if (g_menu_model_get_n_items(G_MENU_MODEL(section.get())) > 0)
                g_menu_append_section(items.get(), nullptr, G_MENU_MODEL(section.get()));
            section = adopt(g_menu_new());
        };
        for (auto const& item : submenu.items) {
            if (item.isSeparator()) {
                closeSection();
                continue;
            }
            char const* name = actionName(*item.action);
            if (!g_action_map_lookup_action(G_ACTION_MAP(application_), name)) {
                auto action = adopt(g_simple_action_new(name, nullptr));
                g_signal_connect(action.get(), "activate",
                    G_CALLBACK(+[](GSimpleAction* action, GVariant*, gpointer data) {
                        if (auto chosen = actionNamed(g_action_get_name(G_ACTION(action))))
                            static_cast<LinuxPlatform*>(data)->perform(*chosen);
                    }),
                    this);
                g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action.get()));
            }
            std::string const detailed = std::string("app.") + name;
            g_menu_append(section.get(), item.title.c_str(), detailed.c_str());
            if (!item.keyEquivalent.empty()) {
                std::string const accelerator = "<Primary>" + item.keyEquivalent;
                char const* accelerators[] = { accelerator.c_str(), nullptr };
                gtk_application_set_accels_for_action(application_, detailed.c_str(), accelerators);
            }
        }
        closeSection();
        g_menu_append_submenu(menubar.get(), submenu.title.c_str(), G_MENU_MODEL(items.get()));
    }
    gtk_application_set_menubar(application_, G_MENU_MODEL(menubar.get()));
}

void LinuxPlatform::runEditingCommand(char const* command)
{
    if (mainWebView_)
        webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(mainWebView_.get()), command);
}

void LinuxPlatform::showAbout()
{
    if (!aboutDialog_) {
        GtkWidget* dialog = gtk_about_dialog_new();
        auto* about = GTK_ABOUT_DIALOG(dialog);
        gtk_about_dialog_set_program_name(about, "Brindle");
        std::string const version(build::version);
        gtk_about_dialog_set_version(about, version.c_str());
        gtk_about_dialog_set_logo_icon_name(about, build::applicationId);
        gtk_about_dialog_set_comments(about, "Reminders and alarms for your planner.");
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
        // The dialog is kept and shown again; its close button only hides it.
        g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_hide), nullptr);
        g_signal_connect(dialog, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
        gtk_window_set_application(GTK_WINDOW(dialog), application_);
        aboutDialog_.reset(dialog);
    }
    bool const parentVisible = mainWindow_ && gtk_widget_get_visible(GTK_WIDGET(mainWindow_.get()));
    gtk_window_set_transient_for(GTK_WINDOW(aboutDialog_.get()), parentVisible ? mainWindow_.get() : nullptr);
    gtk_window_present(GTK_WINDOW(aboutDialog_.get()));
}

} // namespace brindle::native
