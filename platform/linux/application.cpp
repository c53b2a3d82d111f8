#include "platform/linux/application.h"

#include "build_config.h"
#include "platform/linux/displays.h"
#include "platform/linux/files.h"
#include "platform/linux/gobject_ptr.h"
#include "platform/linux/linux_platform.h"

#include <csignal>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace brindle::native {

namespace {

constexpr char const* applicationId = build::applicationId;

// GLib's own option for starting an application as a D-Bus service, which autostart entries
// use: the application registers and runs, and waits to be activated.
constexpr char const* serviceOption = "--gapplication-service";

// Brindle's one GtkApplication, its platform and its delegate, and the application-level
// commands that the menu, the shortcuts and the signals reach.
class LinuxApplication {
public:
    LinuxApplication(int argc, char** argv, DelegateFactory const& makeDelegate)
        : application_(adopt(gtk_application_new(applicationId, G_APPLICATION_DEFAULT_FLAGS)))
        , platform_(application_.get(), [this](MenuAction action) { activate(action); })
        , delegate_(makeDelegate(platform_))
    {
        g_signal_connect(application_.get(), "startup", G_CALLBACK(onStartup), this);
        g_signal_connect(application_.get(), "activate", G_CALLBACK(onActivate), this);
        // Brindle takes no command line of its own; GLib's service option is honoured wherever
        // it stands.
        for (int index = 1; index < argc; ++index) {
            if (g_strcmp0(argv[index], serviceOption) == 0) {
                g_application_set_flags(G_APPLICATION(application_.get()),
                    static_cast<GApplicationFlags>(G_APPLICATION_DEFAULT_FLAGS | G_APPLICATION_IS_SERVICE));
            }
        }
    }
    // The delegate goes first: it holds what it was handed of the platform.
    ~LinuxApplication() { delegate_.reset(); }
    LinuxApplication(LinuxApplication const&) = delete;
    LinuxApplication& operator=(LinuxApplication const&) = delete;

    // Only the program name is passed on.
    int run(int argc, char** argv)
    {
        guint const terminate = g_unix_signal_add(SIGTERM, onTerminationSignal, this);
        guint const interrupt = g_unix_signal_add(SIGINT, onTerminationSignal, this);
        int const status = !registerService()
            ? (alreadyRunning_ ? 0 : 1)
            : g_application_run(G_APPLICATION(application_.get()), argc > 0 ? 1 : 0, argv);
        g_source_remove(terminate);
        g_source_remove(interrupt);
        return status;
    }

private:
    bool registerService();
    static void onStartup(GApplication* application, gpointer data);
    static void onActivate(GApplication* application, gpointer data);
    static gboolean onTerminationSignal(gpointer data);

    void activate(MenuAction action);
    // Asks the delegate first and quits only when it agrees.
    void requestQuit();
    // Quits without asking, ending any question that is up.
    void quitNow();

    GObjectPtr<GtkApplication> application_;
    LinuxPlatform platform_;
    std::unique_ptr<ApplicationDelegate> delegate_;
    bool launched_ = false;
    bool alreadyRunning_ = false;
    enum class Quit {
        no,
        asking,
        now,
    } quit_
        = Quit::no;
};

// As a service, GLib fails the registration when another Brindle already owns the name in this
// session (one opened by hand before the session's user manager started this one), and the
// process would exit 1: systemd would take that for a crash and start it again and again. The
// Brindle already running rings the alarms, so this one steps aside with 0.
bool LinuxApplication::registerService()
{
    GApplication* application = G_APPLICATION(application_.get());
    if (!(g_application_get_flags(application) & G_APPLICATION_IS_SERVICE))
        return true;
    g_autoptr(GError) error = nullptr;
    if (g_application_register(application, nullptr, &error))
        return true;
    g_autoptr(GDBusConnection) session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    g_autoptr(GVariant) owned = session
        ? g_dbus_connection_call_sync(session, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", applicationId),
            G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr)
        : nullptr;
    gboolean hasOwner = FALSE;
    if (owned)
        g_variant_get(owned, "(b)", &hasOwner);
    alreadyRunning_ = hasOwner;
    if (alreadyRunning_)
        g_printerr("Brindle: already running in this session; this one steps aside\n");
    else
        g_printerr("Brindle: cannot register on the session bus: %s\n", error->message);
    return false;
}

void LinuxApplication::onStartup(GApplication* application, gpointer data)
{
    auto& self = *static_cast<LinuxApplication*>(data);
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

    // Started with the session: the launch runs now, without the window, and the user's first
    // launch is Brindle launched again, which shows it. The hold above keeps the service from
    // ending on GApplication's inactivity time-out.
    if (g_application_get_flags(application) & G_APPLICATION_IS_SERVICE) {
        self.launched_ = true;
        self.delegate_->launch(ApplicationDelegate::LaunchMode::inBackground);
    }
}

// The first activation is the launch; every later one is Brindle being launched again, which
// GApplication forwards over D-Bus to the instance already running.
void LinuxApplication::onActivate(GApplication*, gpointer data)
{
    auto& self = *static_cast<LinuxApplication*>(data);
    if (!self.launched_) {
        self.launched_ = true;
        self.delegate_->launch(ApplicationDelegate::LaunchMode::withWindow);
        return;
    }
    self.delegate_->reopen();
}

// SIGTERM and SIGINT come from the session ending or from the system: they cannot wait for the
// quit question, so Brindle quits at once.
gboolean LinuxApplication::onTerminationSignal(gpointer data)
{
    static_cast<LinuxApplication*>(data)->quitNow();
    return G_SOURCE_CONTINUE;
}

void LinuxApplication::activate(MenuAction action)
{
    Windows& windows = platform_.windows();
    switch (action) {
    case MenuAction::about:
        windows.presentAbout();
        break;
    case MenuAction::showWindow:
        if (delegate_)
            delegate_->presentWindow();
        break;
    case MenuAction::hide:
        windows.hideAll();
        break;
    case MenuAction::quit:
        requestQuit();
        break;
    case MenuAction::cut:
        windows.runEditingCommand(WEBKIT_EDITING_COMMAND_CUT);
        break;
    case MenuAction::copy:
        windows.runEditingCommand(WEBKIT_EDITING_COMMAND_COPY);
        break;
    case MenuAction::paste:
        windows.runEditingCommand(WEBKIT_EDITING_COMMAND_PASTE);
        break;
    case MenuAction::selectAll:
        windows.runEditingCommand(WEBKIT_EDITING_COMMAND_SELECT_ALL);
        break;
    }
}

void LinuxApplication::requestQuit()
{
    // Ctrl+Q pressed again while the question is up is the same request, not a second one.
    if (quit_ != Quit::no)
        return;
    if (!delegate_) {
        quitNow();
        return;
    }
    quit_ = Quit::asking;
    delegate_->confirmQuit([this](bool quit) {
        if (quit)
            quitNow();
        else if (quit_ == Quit::asking)
            quit_ = Quit::no;
    });
}

void LinuxApplication::quitNow()
{
    quit_ = Quit::now;
    platform_.questions().dismissAll();
    g_application_quit(G_APPLICATION(application_.get()));
}

} // namespace

int runApplication(int argc, char** argv, DelegateFactory makeDelegate)
{
    chooseWindowingSystem();
    g_set_application_name("Brindle");
    LinuxApplication application(argc, argv, makeDelegate);
    return application.run(argc, argv);
}

} // namespace brindle::native
