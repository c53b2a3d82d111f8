#include "build_config.h"
#include "platform/linux/alarm_panel.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/session.h"
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
    void makeKeyAndOrderFront() override
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
    GObjectPtr<GtkWidget> bar(gtk_menu_bar_new_from_model(model));
    gtk_widget_show_all(bar.get());
    int natural = 0;
    gtk_widget_get_preferred_height(bar.get(), nullptr, &natural);
    gtk_widget_destroy(bar.get());
    return natural;
}

} // namespace

std::unique_ptr<WebView> LinuxPlatform::createWebView(WebViewConfig config)
{
    TrustedCertificate certificate { std::string(build::trustedCertificatePem), std::string(build::appHost) };
    auto view = std::make_unique<LinuxWebView>(std::move(config), certificate);
    watch(view->widget(), &mainWebView_);
    return view;
}

// The close button hides the window instead of destroying it, so that the same window, with
// its page as it was, comes back on reopen.
std::unique_ptr<Window> LinuxPlatform::createMainWindow(WindowLayout const& layout, WebView& content)
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

    watch(window, &mainWindow_);
    return std::make_unique<LinuxMainWindow>(GObjectPtr<GtkWindow>::retain(window));
}

// GTK has no activation of a whole application: it comes to the focus of a window. Brindle
// activates right after showing the main window, whose present asked for the focus already (a
// second request would spend the startup id again and lose the focus under Mutter), or after
// showing the alarm panel, which stays in front by itself and must not take the focus.
void LinuxPlatform::activateApplication()
{
}

// A click on one of Brindle's notifications entitles its window to the focus, which it asks for
// when it is presented next. On Wayland a token from the notification server proves the click;
// GTK spends it on the next focus request. A server that sends none (GNOME Shell before 46, or
// without Brindle's desktop entry) leaves a window manager that gives the focus only to a request
// dated after the user's last interaction: the request is dated when the click reached Brindle,
// on X11 as the window's user time, on Wayland through a startup id announced on Xwayland.
void LinuxPlatform::acceptActivation(std::string const& activationToken)
{
    if (!mainWindow_)
        return;
#ifdef GDK_WINDOWING_WAYLAND
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(mainWindow_));
    if (GDK_IS_WAYLAND_DISPLAY(display)) {
        std::string const id = activationToken.empty() ? xwaylandStartupId() : activationToken;
        if (!id.empty())
            gdk_wayland_display_set_startup_notification_id(display, id.c_str());
        return;
    }
#endif
    if (!activationToken.empty()) {
        gtk_window_set_startup_id(mainWindow_, activationToken.c_str());
        return;
    }
    if (!GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(mainWindow_))))
        return;
    gtk_widget_realize(GTK_WIDGET(mainWindow_));
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(mainWindow_));
    gdk_x11_window_set_user_time(window, gdk_x11_get_server_time(window));
}

void LinuxPlatform::hideAllWindows()
{
    for (GList* item = gtk_application_get_windows(application_); item; item = item->next)
        gtk_widget_hide(GTK_WIDGET(item->data));
}

std::unique_ptr<AlarmPanel> LinuxPlatform::showAlarmPanel(PanelContent const& content)
{
    return showGtkAlarmPanel(content, application_);
}

} // namespace brindle::native
