#pragma once

#include "platform/linux/async_calls.h"
#include "platform/linux/gobject_ptr.h"

#include <functional>
#include <string>

namespace brindle::native {

// Wakes the machine through the user's systemd manager: a transient timer unit with
// WakeSystem=yes, where that manager holds CAP_WAKE_ALARM itself (systemd 254 and later give it
// to every user manager; an older one fails every such timer with Result=resources).
// The timer is replaced, never added to: the one before is stopped, and each has a name of its
// own, an instance of `<application id>-wake-up@<pid>-<n>.timer`, so that masking that template
// stops Brindle from waking the machine. It is removed when no alarm is ahead and when Brindle
// quits; one a killed Brindle left behind is removed by the next (removeLeftovers).
// Every call waits for its answer: a refusal reaches `onFailure` with systemd's words.
class SystemdWakeTimer {
public:
    SystemdWakeTimer(
        GObjectPtr<GDBusConnection> session, std::function<void(std::string const& why)> onFailure);
    ~SystemdWakeTimer();
    SystemdWakeTimer(SystemdWakeTimer const&) = delete;
    SystemdWakeTimer& operator=(SystemdWakeTimer const&) = delete;

    // systemd's calendar ends with the year 2199: a later OnCalendar= never elapses.
    static bool canHold(double atMs);
    // Replaces the timer with one for atMs, a moment canHold accepts.
    void start(double atMs);
    void stop();
    // The manager went away, and its timers with it: nothing is left to stop.
    void forget() { unit_.clear(); }

private:
    void stopUnit(std::string const& unit);

    GObjectPtr<GDBusConnection> session_;
    std::function<void(std::string const& why)> onFailure_;
    std::string unit_;
    unsigned serial_ = 0;
    AsyncCalls calls_;
};

// Answers whether the user's systemd manager on the session bus can wake the machine.
void askWakingUserManager(
    AsyncCalls& calls, GDBusConnection* session, std::function<void(bool canWake)> answered);

// Removes the wake-up timers of a Brindle that no longer runs: those named after a process that
// is gone, or is another program now.
void removeLeftoverWakeTimers(AsyncCalls& calls, GDBusConnection* session);

} // namespace brindle::native
