#include "platform/linux/logind.h"

#include <unistd.h>
#include <utility>

namespace brindle::native {

namespace {

constexpr DBusObject logindManager {
    "org.freedesktop.login1",
    "/org/freedesktop/login1",
    "org.freedesktop.login1.Manager",
    G_DBUS_CALL_FLAGS_NO_AUTO_START,
    5000,
};

class LogindSleepHold final : public SleepHold {
public:
    explicit LogindSleepHold(std::string const& reason)
    {
        calls_.getBus(G_BUS_TYPE_SYSTEM, [this, reason](GObjectPtr<GDBusConnection> system) {
            if (system)
                inhibit(std::move(system), reason);
        });
    }
    ~LogindSleepHold() override
    {
        if (fd_ >= 0)
            close(fd_);
    }

private:
    // Only the lid: logind suspends a woken laptop whose lid is closed again within half a
    // minute, and a "sleep" lock does not stop that (LidSwitchIgnoreInhibited=yes by default).
    // Idle sleep needs no lock, as the desktop counts idle time afresh after a wake.
    void inhibit(GObjectPtr<GDBusConnection> system, std::string const& reason)
    {
        system_ = std::move(system);
        calls_.callWithFds(system_.get(), logindManager, "Inhibit",
            g_variant_new("(ssss)", "handle-lid-switch", "Brindle", reason.c_str(), "block"),
            G_VARIANT_TYPE("(h)"), [this](GVariant* reply, GUnixFDList* fds) {
                if (!reply || !fds)
                    return;
                gint32 index = -1;
                g_variant_get(reply, "(h)", &index);
                fd_ = g_unix_fd_list_get(fds, index, nullptr);
            });
    }

    GObjectPtr<GDBusConnection> system_;
    int fd_ = -1;
    // Last, so that the calls are cancelled before anything they write to goes.
    AsyncCalls calls_;
};

} // namespace

LogindWakeObserver::LogindWakeObserver(std::function<void()> onWake)
    : onWake_(std::move(onWake))
{
    calls_.getBus(G_BUS_TYPE_SYSTEM, [this](GObjectPtr<GDBusConnection> system) {
        if (!system)
            return;
        system_ = std::move(system);
        subscription_ = g_dbus_connection_signal_subscribe(system_.get(), logindManager.name,
            logindManager.interface, "PrepareForSleep", logindManager.path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            onPrepareForSleep, this, nullptr);
    });
}

LogindWakeObserver::~LogindWakeObserver()
{
    if (subscription_)
        g_dbus_connection_signal_unsubscribe(system_.get(), subscription_);
}

void LogindWakeObserver::onPrepareForSleep(
    GDBusConnection*, char const*, char const*, char const*, char const*, GVariant* parameters, gpointer data)
{
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
        return;
    gboolean goingToSleep = TRUE;
    g_variant_get(parameters, "(b)", &goingToSleep);
    auto* self = static_cast<LogindWakeObserver*>(data);
    if (!goingToSleep && self->onWake_)
        self->onWake_();
}

std::unique_ptr<SleepHold> holdSleepWithLogind(std::string const& reason)
{
    return std::make_unique<LogindSleepHold>(reason);
}

} // namespace brindle::native
