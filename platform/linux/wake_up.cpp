#include "platform/linux/wake_up.h"

#include "build_config.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <gio/gunixfdlist.h>
#include <glib-unix.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>

namespace brindle::native {

namespace {

// The first systemd whose user managers hold CAP_WAKE_ALARM.
constexpr long firstWakingUserManager = 254;
constexpr int callTimeoutMs = 5000;

constexpr char const* systemdName = "org.freedesktop.systemd1";
constexpr char const* systemdPath = "/org/freedesktop/systemd1";
constexpr char const* systemdManager = "org.freedesktop.systemd1.Manager";

bool isCancelled(GError* error)
{
    return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// An absolute wall-clock time for timerfd_settime. A zero value would disarm the timer, so a
// moment at or before the epoch is the first nanosecond after it: already past, it fires at once.
itimerspec absoluteTime(double atMs)
{
    itimerspec when {};
    double const ms = std::max(atMs, 1e-6);
    double const seconds = std::floor(ms / 1000.0);
    when.it_value.tv_sec = static_cast<time_t>(seconds);
    when.it_value.tv_nsec = static_cast<long>((ms - seconds * 1000.0) * 1e6);
    return when;
}

// systemd's calendar form of a moment, in UTC, to the second (rounded down: a wake-up a fraction
// of a second early is harmless).
std::string calendarTime(double atMs)
{
    time_t const seconds = static_cast<time_t>(std::floor(atMs / 1000.0));
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

} // namespace

WakeUp::WakeUp()
    : cancellable_(adopt(g_cancellable_new()))
{
    if (openTimer(clock_)) {
        means_ = Means::kernel;
    } else {
        // Without CAP_WAKE_ALARM (EPERM), the user's systemd manager may wake the machine instead.
        clock_ = CLOCK_REALTIME;
        g_bus_get(
            G_BUS_TYPE_SESSION, cancellable_.get(),
            [](GObject*, GAsyncResult* result, gpointer data) {
                g_autoptr(GError) error = nullptr;
                GDBusConnection* session = g_bus_get_finish(result, &error);
                if (isCancelled(error))
                    return;
                auto* self = static_cast<WakeUp*>(data);
                if (!session) {
                    self->decide(nullptr, {});
                    return;
                }
                self->session_ = adopt(session);
                g_dbus_connection_call(
                    session, systemdName, systemdPath, "org.freedesktop.DBus.Properties", "Get",
                    g_variant_new("(ss)", systemdManager, "Version"), G_VARIANT_TYPE("(v)"),
                    G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMs, self->cancellable_.get(),
                    [](GObject* source, GAsyncResult* result, gpointer data) {
                        g_autoptr(GError) error = nullptr;
                        g_autoptr(GVariant) reply
                            = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                        if (isCancelled(error))
                            return;
                        std::string version;
                        if (reply) {
                            g_autoptr(GVariant) value = nullptr;
                            g_variant_get(reply, "(v)", &value);
                            if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
                                version = g_variant_get_string(value, nullptr);
                        }
                        auto* self = static_cast<WakeUp*>(data);
                        self->decide(self->session_.get(), version);
                    },
                    self);
            },
            this);
    }
}

bool WakeUp::openTimer(int clock)
{
    timer_ = timerfd_create(clock, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0)
        return false;
    watch_ = g_unix_fd_add(
        timer_, G_IO_IN,
        [](int fd, GIOCondition, gpointer data) -> gboolean {
            std::uint64_t expirations = 0;
            if (read(fd, &expirations, sizeof expirations) == sizeof expirations)
                static_cast<WakeUp*>(data)->fired();
            return G_SOURCE_CONTINUE;
        },
        this);
    return true;
}

// A disarmed alarm timer goes on reporting the time it had left (timerfd_gettime, /proc), so a
// removed wake-up closes its timer, and the next one opens another.
void WakeUp::closeTimer()
{
    if (watch_)
        g_source_remove(std::exchange(watch_, 0));
    if (timer_ >= 0)
        close(std::exchange(timer_, -1));
}

WakeUp::~WakeUp()
{
    g_cancellable_cancel(cancellable_.get());
    // Brindle quits: nothing will ring, so the user manager must not wake the machine for it.
    for (char const* method : { "StopUnit", "ResetFailedUnit" }) {
        if (transientTimer_.empty())
            break;
        GVariant* arguments = g_str_equal(method, "StopUnit")
            ? g_variant_new("(ss)", transientTimer_.c_str(), "replace")
            : g_variant_new("(s)", transientTimer_.c_str());
        [[maybe_unused]] g_autoptr(GVariant) reply
            = g_dbus_connection_call_sync(session_.get(), systemdName, systemdPath, systemdManager, method,
                arguments, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMs, nullptr, nullptr);
    }
    closeTimer();
}

void WakeUp::decide(GDBusConnection* session, std::string const& version)
{
    // "252.39-1~deb12u2": the number before the first dot is systemd's version.
    if (session && std::atol(version.c_str()) >= firstWakingUserManager) {
        means_ = Means::userManager;
    } else {
        means_ = Means::none;
        std::fputs(
            "Brindle: alarms cannot wake this machine from sleep (no CAP_WAKE_ALARM, and no systemd user "
            "manager of version 254 or later)\n",
            stderr);
    }
    apply();
}

void WakeUp::set(std::optional<double> atMs, std::function<void()> onWakeUp)
{
    atMs_ = atMs;
    onWakeUp_ = std::move(onWakeUp);
    if (means_ != Means::deciding)
        apply();
}

void WakeUp::apply()
{
    if (means_ == Means::none)
        return;
    if (!atMs_)
        closeTimer();
    else if (timer_ >= 0 || openTimer(clock_)) {
        itimerspec const when = absoluteTime(*atMs_);
        timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
    }
    if (means_ != Means::userManager)
        return;
    stopTransientTimer();
    // A moment already past needs no wake-up: the machine is awake now.
    double const nowMs = static_cast<double>(g_get_real_time()) / 1000.0;
    if (atMs_ && *atMs_ >= nowMs + 1000.0)
        startTransientTimer(*atMs_);
}

void WakeUp::startTransientTimer(double atMs)
{
    std::string const instance = std::string(build::applicationId) + "-wake-up@" + std::to_string(getpid())
        + "-" + std::to_string(++serial_);
    std::string const timer = instance + ".timer";
    std::string const service = instance + ".service";

    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(
        &properties, "(sv)", "Description", g_variant_new_string("Wake up for a Brindle alarm"));
    GVariantBuilder calendar;
    g_variant_builder_init(&calendar, G_VARIANT_TYPE("a(ss)"));
    g_variant_builder_add(&calendar, "(ss)", "OnCalendar", calendarTime(atMs).c_str());
    g_variant_builder_add(&properties, "(sv)", "TimersCalendar", g_variant_builder_end(&calendar));
    g_variant_builder_add(&properties, "(sv)", "WakeSystem", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&properties, "(sv)", "RemainAfterElapse", g_variant_new_boolean(FALSE));
    g_variant_builder_add(&properties, "(sv)", "AccuracyUSec", g_variant_new_uint64(G_USEC_PER_SEC));

    // The timer needs a service to start; this one does nothing, as systemd-run's own do not.
    GVariantBuilder command;
    g_variant_builder_init(&command, G_VARIANT_TYPE("a(sasb)"));
    char const* argv[] = { "/bin/true", nullptr };
    g_variant_builder_add(&command, "(s^asb)", "/bin/true", argv, FALSE);
    GVariantBuilder serviceProperties;
    g_variant_builder_init(&serviceProperties, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(
        &serviceProperties, "(sv)", "Description", g_variant_new_string("Wake up for a Brindle alarm"));
    g_variant_builder_add(&serviceProperties, "(sv)", "ExecStart", g_variant_builder_end(&command));
    GVariantBuilder aux;
    g_variant_builder_init(&aux, G_VARIANT_TYPE("a(sa(sv))"));
    g_variant_builder_add(&aux, "(sa(sv))", service.c_str(), &serviceProperties);

    // Refused when the template is masked: then there is simply no wake-up, and stopping the name
    // later is harmless.
    transientTimer_ = timer;
    g_dbus_connection_call(session_.get(), systemdName, systemdPath, systemdManager, "StartTransientUnit",
        g_variant_new("(ssa(sv)a(sa(sv)))", timer.c_str(), "fail", &properties, &aux), G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMs, cancellable_.get(), nullptr, nullptr);
}

void WakeUp::stopTransientTimer()
{
    if (transientTimer_.empty())
        return;
    // A timer that failed (no real-time clock to wake the machine) stays loaded until its failure
    // is reset; a stopped one is unloaded at once.
    g_dbus_connection_call(session_.get(), systemdName, systemdPath, systemdManager, "StopUnit",
        g_variant_new("(ss)", transientTimer_.c_str(), "replace"), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
        callTimeoutMs, cancellable_.get(), nullptr, nullptr);
    g_dbus_connection_call(session_.get(), systemdName, systemdPath, systemdManager, "ResetFailedUnit",
        g_variant_new("(s)", transientTimer_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
        callTimeoutMs, cancellable_.get(), nullptr, nullptr);
    transientTimer_.clear();
}

void WakeUp::fired()
{
    // The handler may set the next wake-up, which replaces onWakeUp_ under it.
    auto const onWakeUp = onWakeUp_;
    if (onWakeUp)
        onWakeUp();
}

namespace {

class LogindSleepHold final : public SleepHold {
public:
    explicit LogindSleepHold(std::string reason)
        : reason_(std::move(reason))
        , cancellable_(adopt(g_cancellable_new()))
    {
        g_bus_get(
            G_BUS_TYPE_SYSTEM, cancellable_.get(),
            [](GObject*, GAsyncResult* result, gpointer data) {
                g_autoptr(GError) error = nullptr;
                GDBusConnection* system = g_bus_get_finish(result, &error);
                if (isCancelled(error) || !system)
                    return;
                static_cast<LogindSleepHold*>(data)->inhibit(system);
            },
            this);
    }
    ~LogindSleepHold() override
    {
        g_cancellable_cancel(cancellable_.get());
        if (fd_ >= 0)
            close(fd_);
    }

private:
    // Only the lid: logind suspends a woken laptop whose lid is closed again within half a
    // minute, and a "sleep" lock does not stop that (LidSwitchIgnoreInhibited=yes by default).
    // Idle sleep needs no lock, as the desktop counts idle time afresh after a wake.
    void inhibit(GDBusConnection* system)
    {
        system_ = adopt(system);
        g_dbus_connection_call_with_unix_fd_list(
            system, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
            "Inhibit", g_variant_new("(ssss)", "handle-lid-switch", "Brindle", reason_.c_str(), "block"),
            G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeoutMs, nullptr,
            cancellable_.get(),
            [](GObject* source, GAsyncResult* result, gpointer data) {
                GUnixFDList* fds = nullptr;
                g_autoptr(GError) error = nullptr;
                g_autoptr(GVariant) reply = g_dbus_connection_call_with_unix_fd_list_finish(
                    G_DBUS_CONNECTION(source), &fds, result, &error);
                auto list = adopt(fds);
                if (isCancelled(error) || !reply || !list.get())
                    return;
                gint32 index = -1;
                g_variant_get(reply, "(h)", &index);
                static_cast<LogindSleepHold*>(data)->fd_ = g_unix_fd_list_get(list.get(), index, nullptr);
            },
            this);
    }

    std::string reason_;
    GObjectPtr<GCancellable> cancellable_;
    GObjectPtr<GDBusConnection> system_;
    int fd_ = -1;
};

} // namespace

std::unique_ptr<SleepHold> holdSleepWithLogind(std::string const& reason)
{
    return std::make_unique<LogindSleepHold>(reason);
}

} // namespace brindle::native
