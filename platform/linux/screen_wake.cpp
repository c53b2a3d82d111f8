#include "platform/linux/screen_wake.h"

#include "platform/linux/async_calls.h"

#include <gio/gio.h>

namespace brindle::native {

namespace {

class GtkScreenWakeLock final : public ScreenWakeLock {
public:
    GtkScreenWakeLock(GtkApplication* application, std::string const& reason)
        : application_(application)
        , cookie_(gtk_application_inhibit(application, nullptr, GTK_APPLICATION_INHIBIT_IDLE, reason.c_str()))
    {
    }
    ~GtkScreenWakeLock() override
    {
        if (cookie_)
            gtk_application_uninhibit(application_, cookie_);
    }

private:
    GtkApplication* const application_;
    guint const cookie_;
};

} // namespace

// Each desktop wakes its screen by its own call; the one a session does not serve fails unheard.
// The idle inhibitor taken after them keeps the screen on until the ring ends; letting it go
// hands the screen back to the session's own idle timers. None of them unlocks a locked screen:
// the ring shows on the lock screen through its notification.
std::unique_ptr<ScreenWakeLock> wakeScreen(GtkApplication* application, std::string const& reason)
{
    if (auto* bus = g_application_get_dbus_connection(G_APPLICATION(application))) {
        // Plasma: KWin's screen locker serves it and counts it as user activity, which turns the
        // screen back on.
        callAndForget(bus,
            { "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver" },
            "SimulateUserActivity", nullptr);
        // GNOME (43 to 48) serves no call that wakes the screen for an application: its lock screen
        // wakes for a notification only while banners are shown, and the idle inhibitor turns the
        // screen back on only while the lock screen is down. Mutter's monitors are switched on
        // directly, as GNOME's power daemon does on user activity; on (0) is a no-op when already on.
        callAndForget(bus,
            { "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                "org.freedesktop.DBus.Properties" },
            "Set",
            g_variant_new(
                "(ssv)", "org.gnome.Mutter.DisplayConfig", "PowerSaveMode", g_variant_new_int32(0)));
    }
    return std::make_unique<GtkScreenWakeLock>(application, reason);
}

} // namespace brindle::native
