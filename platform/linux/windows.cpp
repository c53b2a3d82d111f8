#include "build_config.h"
#include "platform/linux/alarm_panel.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/web_view.h"

#include <gdk/gdkx.h>

namespace brindle::native {

namespace {

class LinuxMainWindow final : public Window {
public:
    LinuxMainWindow(GObjectPtr<GtkWindow> window, std::function<void(GtkWindow*)> onShown)
        : window_(std::move(window))
        , onShown_(std::move(onShown))
    {
    }
    ~LinuxMainWindow() override { gtk_widget_destroy(GTK_WIDGET(window_.get())); }

    void makeKeyAndOrderFront() override
    {
        gtk_window_present(window_.get());
        onShown_(window_.get());
    }

private:
    GObjectPtr<GtkWindow> window_;
    std::function<void(GtkWindow*)> onShown_;
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
    return std::make_unique<LinuxMainWindow>(
        GObjectPtr<GtkWindow>::retain(window), [this](GtkWindow* shown) { trackShown(shown); });
}

void LinuxPlatform::trackShown(GtkWindow* window)
{
    watch(window, &lastShown_);
}

// GTK has no activation of a whole application; presenting the window that Brindle showed last
// asks the window manager for the focus, which is what activation comes to on X11 and Wayland.
void LinuxPlatform::activateApplication()
{
    if (lastShown_ && gtk_widget_get_visible(GTK_WIDGET(lastShown_)))
        gtk_window_present(lastShown_);
}

// A click on one of Brindle's notifications entitles its window to the focus. On Wayland only a
// token from the notification server proves the click; GTK hands it to the compositor when it
// presents. A server that sends none (GNOME Shell) has Brindle on X11 or Xwayland, where the
// window manager gives the focus only to a request dated after the user's last interaction: the
// window's requests are dated when the click reached Brindle, as GTK dates them from the
// "_TIME" startup ids that launchers hand over.
void LinuxPlatform::acceptActivation(std::string const& activationToken)
{
    if (!mainWindow_)
        return;
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
    auto panel = showGtkAlarmPanel(content, application_);
    // GtkApplication lists its windows newest first: the panel was just added.
    GList* windows = gtk_application_get_windows(application_);
    if (panel && windows && windows->data != mainWindow_)
        trackShown(GTK_WINDOW(windows->data));
    return panel;
}

} // namespace brindle::native
