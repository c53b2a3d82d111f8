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

// The first second of the year 2200, which systemd's calendar no longer reaches.
constexpr double firstUnreachableSecond = 7'258'118'400.0;

constexpr char const* noSuchUnit = "org.freedesktop.systemd1.NoSuchUnit";

// systemd's calendar form of a moment, in UTC, to the second (rounded down: a wake-up a fraction
// of a second early is harmless), for a moment canHold accepts.
std::string calendarTime(double atMs)
{
    time_t const seconds = static_cast<time_t>(std::floor(atMs / 1000.0));
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

std::string remoteError(GError* error)
{
    g_autofree gchar* name = g_dbus_error_get_remote_error(error);
    return name ? name : "";
}

std::string programOf(std::string const& pid)
{
    g_autofree gchar* comm = nullptr;
    g_file_get_contents(("/proc/" + pid + "/comm").c_str(), &comm, nullptr, nullptr);
    return comm ? comm : "";
}

// Stops a timer and forgets its failure: a timer that failed (no real-time clock to wake the
// machine) stays loaded until its failure is reset; a stopped one is unloaded at once. A timer
// that has elapsed is gone already, which is no failure.
void stopAndReset(AsyncCalls& calls, GDBusConnection* session, std::string const& unit,
    std::function<void(std::string const& why)> const& onFailure)
{
    auto const answered = [unit, onFailure](GVariant*, GError* error) {
        if (error && remoteError(error) != noSuchUnit && onFailure)
            onFailure("stopping " + unit + ": " + error->message);
    };
    calls.callForError(session, systemdManager, "StopUnit", g_variant_new("(ss)", unit.c_str(), "replace"),
        nullptr, answered);
    calls.callForError(session, systemdManager, "ResetFailedUnit", g_variant_new("(s)", unit.c_str()),
        nullptr, [unit, onFailure](GVariant*, GError* error) {
            if (error && remoteError(error) != noSuchUnit && onFailure)
                onFailure("resetting " + unit + ": " + error->message);
        });
}

} // namespace

void askWakingUserManager(
    AsyncCalls& calls, GDBusConnection* session, std::function<void(bool canWake)> answered)
{
    calls.call(session, systemdProperties, "Get", g_variant_new("(ss)", systemdManager.interface, "Version"),
        G_VARIANT_TYPE("(v)"), [answered = std::move(answered)](GVariant* reply) {
            std::string version;
            if (reply) {
                g_autoptr(GVariant) value = nullptr;
                g_variant_get(reply, "(v)", &value);
                if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
                    version = g_variant_get_string(value, nullptr);
            }
            // "252.39-1~deb12u2": the number before the first dot is systemd's version.
            answered(std::atol(version.c_str()) >= firstWakingUserManager);
        });
}

void removeLeftoverWakeTimers(AsyncCalls& calls, GDBusConnection* session)
{
    std::string const prefix = std::string(build::applicationId) + "-wake-up@";
    GObjectPtr<GDBusConnection> connection = retain(session);
    std::string const pattern = prefix + "*.timer";
    char const* states[] = { nullptr };
    char const* patterns[] = { pattern.c_str(), nullptr };
    calls.call(session, systemdManager, "ListUnitsByPatterns", g_variant_new("(^as^as)", states, patterns),
        G_VARIANT_TYPE("(a(ssssssouso))"), [&calls, connection, prefix](GVariant* reply) {
            if (!reply)
                return;
            std::string const self = programOf("self");
            g_autoptr(GVariantIter) units = nullptr;
            g_variant_get(reply, "(a(ssssssouso))", &units);
            char const* name = nullptr;
            while (g_variant_iter_next(units, "(&ssssssouso)", &name, nullptr, nullptr, nullptr, nullptr,
                nullptr, nullptr, nullptr, nullptr, nullptr)) {
                // "<prefix><pid>-<n>.timer": a process that still runs this program keeps its timer.
                std::string const unit = name;
                std::string const pid
                    = unit.substr(prefix.size(), unit.find('-', prefix.size()) - prefix.size());
                if (programOf(pid) != self || pid == std::to_string(getpid()))
                    stopAndReset(calls, connection.get(), unit, {});
            }
        });
}

SystemdWakeTimer::SystemdWakeTimer(
    GObjectPtr<GDBusConnection> session, std::function<void(std::string const& why)> onFailure)
    : session_(std::move(session))
    , onFailure_(std::move(onFailure))
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

bool SystemdWakeTimer::canHold(double atMs)
{
    return std::isfinite(atMs) && atMs / 1000.0 < firstUnreachableSecond;
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

    // Refused when the template is masked, among others. A refusal that comes after this timer
    // was replaced concerns a timer that no longer matters.
    unit_ = timer;
    calls_.callForError(session_.get(), systemdManager, "StartTransientUnit",
        g_variant_new("(ssa(sv)a(sa(sv)))", timer.c_str(), "fail", &properties, &aux), G_VARIANT_TYPE("(o)"),
        [this, timer](GVariant*, GError* error) {
            if (!error || unit_ != timer)
                return;
            unit_.clear();
            onFailure_("starting " + timer + ": " + error->message);
        });
}

void SystemdWakeTimer::stop()
{
    if (!unit_.empty())
        stopAndReset(calls_, session_.get(), std::exchange(unit_, {}), onFailure_);
}

} // namespace brindle::native
