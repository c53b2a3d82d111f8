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
// own, an instance of `<application id>-wake-up@.timer`, so that masking that template stops
// Brindle from waking the machine. It is removed when no alarm is ahead and when Brindle quits;
// a Brindle that is killed leaves it behind, and it fires once more and is gone
// (RemainAfterElapse=no).
class SystemdWakeTimer {
public:
    explicit SystemdWakeTimer(GObjectPtr<GDBusConnection> session);
    ~SystemdWakeTimer();
    SystemdWakeTimer(SystemdWakeTimer const&) = delete;
    SystemdWakeTimer& operator=(SystemdWakeTimer const&) = delete;

    // Replaces the timer with one for atMs.
    void start(double atMs);
    void stop();

private:
    GObjectPtr<GDBusConnection> session_;
    std::string unit_;
    unsigned serial_ = 0;
};

// Answers the session bus when the user's systemd manager can wake the machine, and null
// otherwise.
void findWakingUserManager(AsyncCalls& calls, std::function<void(GObjectPtr<GDBusConnection> session)> found);

} // namespace brindle::native
