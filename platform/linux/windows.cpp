#include "platform/linux/windows.h"

#include "build_config.h"
#include "platform/linux/displays.h"
#include "platform/linux/web_view.h"

#include <gdk/gdkx.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace brindle::native {

namespace {

class LinuxMainWindow final : public Window {
public:
    explicit LinuxMainWindow(GObjectPtr<GtkWindow> window)
        : window_(std::move(window))
    {
    }
    ~LinuxMainWindow() override { gtk_widget_destroy(GTK_WIDGET(window_.get())); }

    // One request for the focus, which spends the startup id or activation token that came with
    // it: a hidden window is shown first, so that the request is made on a window that is there.
    // GTK has no activation of a whole application beside it: a second request would spend the
    // startup id again and lose the focus under Mutter.
    void present() override
    {
        gtk_widget_show(GTK_WIDGET(window_.get()));
        gtk_window_present(window_.get());
    }

private:
    GObjectPtr<GtkWindow> window_;
};

// The height the window's menubar will take, measured on a menubar built from the same model.
int menubarHeight(GtkApplication* application)
{
    GMenuModel* model = gtk_application_get_menubar(application);
    if (!model)
        return 0;
    auto bar = retain(gtk_menu_bar_new_from_model(model));
    gtk_widget_show_all(bar.get());
    int natural = 0;
    gtk_widget_get_preferred_height(bar.get(), nullptr, &natural);
    gtk_widget_destroy(bar.get());
    return natural;
}

} // namespace

Windows::Windows(GtkApplication* application)
    : application_(application)
{
}

Windows::~Windows()
{
    if (aboutDialog_)
        gtk_widget_destroy(aboutDialog_.get());
}

std::unique_ptr<WebView> Windows::createWebView(WebViewConfig config)
{
    TrustedCertificate certificate { std::string(build::trustedCertificatePem), std::string(build::appHost) };
    auto view = std::make_unique<LinuxWebView>(std::move(config), certificate);
    webView_.reset(view->widget());
    return view;
}

std::unique_ptr<Window> Windows::createMainWindow(WindowLayout const& layout, WebView& content)
{
    GtkWidget* widget = gtk_application_window_new(application_);
    GtkWindow* window = GTK_WINDOW(widget);
    gtk_window_set_title(window, layout.title.c_str());
    // The size is the page's: the menubar comes on top of it.
    gtk_window_set_default_size(window, layout.width, layout.height + menubarHeight(application_));
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), TRUE);
    g_signal_connect(widget, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
    gtk_container_add(GTK_CONTAINER(window), static_cast<LinuxWebView&>(content).widget());

    mainWindow_.reset(window);
    return std::make_unique<LinuxMainWindow>(retain(window));
}

GtkWindow* Windows::shownMainWindow() const
{
    return mainWindow_ && gtk_widget_get_visible(GTK_WIDGET(mainWindow_.get())) ? mainWindow_.get() : nullptr;
}

// On Wayland a token from the notification server proves the click; GTK spends it on the next
// focus request. A server that sends none (GNOME Shell before 46, or without Brindle's desktop
// entry) leaves a window manager that gives the focus only to a request dated after the user's
// last interaction: the request is dated when the click reached Brindle, on X11 as the window's
// user time, on Wayland through a startup id announced on Xwayland.
void Windows::acceptActivation(std::string const& activationToken)
{
    if (!mainWindow_)
        return;
    GtkWidget* window = GTK_WIDGET(mainWindow_.get());
#ifdef GDK_WINDOWING_WAYLAND
    GdkDisplay* display = gtk_widget_get_display(window);
    if (GDK_IS_WAYLAND_DISPLAY(display)) {
        std::string const id = activationToken.empty() ? xwaylandStartupId() : activationToken;
        if (!id.empty())
            gdk_wayland_display_set_startup_notification_id(display, id.c_str());
        return;
    }
#endif
    if (!activationToken.empty()) {
        gtk_window_set_startup_id(mainWindow_.get(), activationToken.c_str());
        return;
    }
    if (!GDK_IS_X11_DISPLAY(gtk_widget_get_display(window)))
        return;
    gtk_widget_realize(window);
    GdkWindow* gdkWindow = gtk_widget_get_window(window);
    gdk_x11_window_set_user_time(gdkWindow, gdk_x11_get_server_time(gdkWindow));
}

void Windows::hideAll()
{
    for (GList* item = gtk_application_get_windows(application_); item; item = item->next)
        gtk_widget_hide(GTK_WIDGET(item->data));
}

void Windows::presentAbout()
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
    gtk_window_set_transient_for(GTK_WINDOW(aboutDialog_.get()), shownMainWindow());
    gtk_window_present(GTK_WINDOW(aboutDialog_.get()));
}

void Windows::runEditingCommand(char const* command)
{
    if (webView_)
        webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(webView_.get()), command);
}

} // namespace brindle::native
