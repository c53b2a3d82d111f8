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

std::unique_ptr<ScreenWakeLock> wakeScreen(GtkApplication* application, std::string const& reason)
{
    if (auto* bus = g_application_get_dbus_connection(G_APPLICATION(application))) {
        callAndForget(bus,
            { "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver" },
            "SimulateUserActivity", nullptr);
    }
    return std::make_unique<GtkScreenWakeLock>(application, reason);
}

} // namespace brindle::native
