#include "platform/linux/main_menu.h"

#include "platform/linux/gobject_ptr.h"

#include <array>
#include <optional>
#include <string>
#include <utility>

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

LinuxMainMenu::LinuxMainMenu(GtkApplication* application, std::function<void(MenuAction)> activate)
    : application_(application)
    , activate_(std::move(activate))
{
}

void LinuxMainMenu::install(MainMenu const& menu)
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
                g_signal_connect(action.get(), "activate", G_CALLBACK(onActivate), this);
                g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action.get()));
            }
            std::string const detailed = std::string("app.") + name;
            g_menu_append(section.get(), item.title.c_str(), detailed.c_str());
            if (!item.accelerator.empty()) {
                std::string const accelerator = "<Primary>" + item.accelerator;
                char const* accelerators[] = { accelerator.c_str(), nullptr };
                gtk_application_set_accels_for_action(application_, detailed.c_str(), accelerators);
            }
        }
        closeSection();
        g_menu_append_submenu(menubar.get(), submenu.title.c_str(), G_MENU_MODEL(items.get()));
    }
    gtk_application_set_menubar(application_, G_MENU_MODEL(menubar.get()));
}

void LinuxMainMenu::onActivate(GSimpleAction* action, GVariant*, gpointer data)
{
    if (auto chosen = actionNamed(g_action_get_name(G_ACTION(action))))
        static_cast<LinuxMainMenu*>(data)->activate_(*chosen);
}

} // namespace brindle::native
