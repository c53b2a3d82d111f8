#include "platform/linux/application.h"

#include "build_config.h"
#include "platform/linux/files.h"
#include "platform/linux/gobject_ptr.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/session.h"

#include <csignal>
#include <glib-unix.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace brindle::native {

namespace {

constexpr char const* applicationId = build::applicationId;

// GLib's own option for starting an application as a D-Bus service, which autostart entries
// use: the application registers and runs, and waits to be activated.
constexpr char const* serviceOption = "--gapplication-service";

struct Session {
    ApplicationDelegate* delegate = nullptr;
    bool launched = false;
};

void onStartup(GApplication* application, gpointer data)
{
    // Brindle lives on with no window open: alarms ring from the main loop alone.
    g_application_hold(application);

    // The icon is installed beside the sounds (<prefix>/share/icons); a build tree is laid out
    // the same, so the icon shows there too, and under any install prefix.
    if (auto executable = executablePath()) {
        g_autofree gchar* binFolder = g_path_get_dirname(executable->c_str());
        g_autofree gchar* icons = g_build_filename(binFolder, "..", "share", "icons", nullptr);
        gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(), icons);
    }
    gtk_window_set_default_icon_name(applicationId);
#ifdef GDK_WINDOWING_WAYLAND
    // A Wayland window's app id is the program name: it must name Brindle's desktop entry, or the
    // desktop does not know the window is Brindle's (GNOME then hands a clicked notification no
    // activation token). On X11 the desktop entry matches by its StartupWMClass.
    if (GDK_IS_WAYLAND_DISPLAY(gdk_display_get_default()))
        g_set_prgname(applicationId);
#endif

    // Started with the session: the launch runs now, without the window, and the first launch
    // by the user is a reopen that shows it. The hold above keeps the service from ending on
    // GApplication's inactivity time-out.
    if (g_application_get_flags(application) & G_APPLICATION_IS_SERVICE) {
        auto& session = *static_cast<Session*>(data);
        session.launched = true;
        session.delegate->applicationDidFinishLaunchingInBackground();
    }
}

// The first activation is the launch; every later one is Brindle being launched again, which
// GApplication forwards over D-Bus to the instance already running.
void onActivate(GApplication*, gpointer data)
{
    auto& session = *static_cast<Session*>(data);
    if (!session.launched) {
        session.launched = true;
        session.delegate->applicationDidFinishLaunching();
        return;
    }
    session.delegate->applicationShouldHandleReopen();
}

// SIGTERM and SIGINT come from the session ending or from the system: they cannot wait for the
// quit question, so Brindle quits at once.
gboolean onTerminationSignal(gpointer data)
{
    static_cast<LinuxPlatform*>(data)->quitNow();
    return G_SOURCE_CONTINUE;
}

} // namespace

void LinuxPlatform::requestQuit()
{
    // Ctrl+Q pressed again while the question is up is the same request, not a second one.
    if (quitQuestionShowing_ || quitting_)
        return;
    quitQuestionShowing_ = true;
    bool const quit = !delegate_ || delegate_->applicationShouldTerminate();
    quitQuestionShowing_ = false;
    if (quit)
        quitNow();
}

void LinuxPlatform::quitNow()
{
    quitting_ = true;
    dismissDialogs();
    g_application_quit(G_APPLICATION(application_));
}

int runApplication(int argc, char** argv, DelegateFactory makeDelegate)
{
    chooseWindowingSystem();
    GObjectPtr<GtkApplication> application(gtk_application_new(applicationId, G_APPLICATION_DEFAULT_FLAGS));
    g_set_application_name("Brindle");

    LinuxPlatform platform(application.get());
    std::unique_ptr<ApplicationDelegate> delegate = makeDelegate(platform);
    platform.setDelegate(delegate.get());

    Session session { delegate.get() };
    g_signal_connect(application.get(), "startup", G_CALLBACK(onStartup), &session);
    g_signal_connect(application.get(), "activate", G_CALLBACK(onActivate), &session);
    guint const terminate = g_unix_signal_add(SIGTERM, onTerminationSignal, &platform);
    guint const interrupt = g_unix_signal_add(SIGINT, onTerminationSignal, &platform);

    // Brindle takes no command line of its own; only the program name is passed on, and GLib's
    // service option is honoured wherever it stands.
    for (int index = 1; index < argc; ++index) {
        if (g_strcmp0(argv[index], serviceOption) == 0) {
            g_application_set_flags(G_APPLICATION(application.get()),
                static_cast<GApplicationFlags>(G_APPLICATION_DEFAULT_FLAGS | G_APPLICATION_IS_SERVICE));
        }
    }
    int const status = g_application_run(G_APPLICATION(application.get()), argc > 0 ? 1 : 0, argv);

    g_source_remove(terminate);
    g_source_remove(interrupt);
    delegate.reset();
    return status;
}

} // namespace brindle::native
