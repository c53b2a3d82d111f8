#include "platform/linux/systemd_wake_timer.h"

#include "build_config.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <utility>

namespace brindle::native {

namespace {

// The first systemd whose user managers hold CAP_WAKE_ALARM.
constexpr long firstWakingUserManager = 254;

constexpr DBusObject systemdManager {
    "org.freedesktop.systemd1",
    "/org/freedesktop/systemd1",
    "org.freedesktop.systemd1.Manager",
    G_DBUS_CALL_FLAGS_NO_AUTO_START,
    5000,
};
constexpr DBusObject systemdProperties {
    systemdManager.name,
    systemdManager.path,
    "org.freedesktop.DBus.Properties",
    systemdManager.flags,
    systemdManager.timeoutMs,
};

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

void findWakingUserManager(AsyncCalls& calls, std::function<void(GObjectPtr<GDBusConnection> session)> found)
{
    calls.getBus(G_BUS_TYPE_SESSION, [&calls, found = std::move(found)](GObjectPtr<GDBusConnection> session) {
        if (!session) {
            found({});
            return;
        }
        GDBusConnection* connection = session.get();
        calls.call(connection, systemdProperties, "Get",
            g_variant_new("(ss)", systemdManager.interface, "Version"), G_VARIANT_TYPE("(v)"),
            [session = std::move(session), found](GVariant* reply) {
                std::string version;
                if (reply) {
                    g_autoptr(GVariant) value = nullptr;
                    g_variant_get(reply, "(v)", &value);
                    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
                        version = g_variant_get_string(value, nullptr);
                }
                // "252.39-1~deb12u2": the number before the first dot is systemd's version.
                found(std::atol(version.c_str()) >= firstWakingUserManager ? session
                                                                           : GObjectPtr<GDBusConnection> {});
            });
    });
}

SystemdWakeTimer::SystemdWakeTimer(GObjectPtr<GDBusConnection> session)
    : session_(std::move(session))
{
}

// Brindle quits: nothing will ring, so the user manager must not wake the machine for it. The
// calls are made before Brindle's process ends, so they wait for their answers.
SystemdWakeTimer::~SystemdWakeTimer()
{
    if (unit_.empty())
        return;
    [[maybe_unused]] g_autoptr(GVariant) stopped
        = g_dbus_connection_call_sync(session_.get(), systemdManager.name, systemdManager.path,
            systemdManager.interface, "StopUnit", g_variant_new("(ss)", unit_.c_str(), "replace"), nullptr,
            systemdManager.flags, systemdManager.timeoutMs, nullptr, nullptr);
    [[maybe_unused]] g_autoptr(GVariant) reset
        = g_dbus_connection_call_sync(session_.get(), systemdManager.name, systemdManager.path,
            systemdManager.interface, "ResetFailedUnit", g_variant_new("(s)", unit_.c_str()), nullptr,
            systemdManager.flags, systemdManager.timeoutMs, nullptr, nullptr);
}

void SystemdWakeTimer::start(double atMs)
{
    stop();
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
    unit_ = timer;
    callAndForget(session_.get(), systemdManager, "StartTransientUnit",
        g_variant_new("(ssa(sv)a(sa(sv)))", timer.c_str(), "fail", &properties, &aux));
}

void SystemdWakeTimer::stop()
{
    if (unit_.empty())
        return;
    // A timer that failed (no real-time clock to wake the machine) stays loaded until its failure
    // is reset; a stopped one is unloaded at once.
    callAndForget(
        session_.get(), systemdManager, "StopUnit", g_variant_new("(ss)", unit_.c_str(), "replace"));
    callAndForget(session_.get(), systemdManager, "ResetFailedUnit", g_variant_new("(s)", unit_.c_str()));
    unit_.clear();
}

} // namespace brindle::native
