#pragma once

#include "platform/linux/async_calls.h"
#include "platform/linux/kernel_wake_timer.h"
#include "platform/linux/systemd_wake_timer.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace brindle::native {

// Brindle's one wake-up from sleep, by the first means the machine offers:
// - a kernel alarm timer, where Brindle holds CAP_WAKE_ALARM;
// - otherwise a transient timer in the user's systemd manager, where that manager can wake the
//   machine, and a plain kernel timer on the real-time clock that tells Brindle the moment;
// - otherwise none: one line on standard error says so, and alarms ring as before, only while
//   the machine is awake.
// The choice is made again when the means chosen fails, and when a user manager appears on the
// session bus later than Brindle. A failure, and a time the means cannot hold, removes whatever
// was set, so no wake-up for a stale time remains; each is said once on standard error.
class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(WakeUp const&) = delete;
    WakeUp& operator=(WakeUp const&) = delete;

    void set(std::optional<double> atMs, std::function<void()> onWakeUp);

private:
    enum class Means {
        deciding,
        kernel,
        userManager,
        none,
    };
    void watchUserManager(GObjectPtr<GDBusConnection> session);
    void userManagerAppeared();
    void userManagerVanished();
    void chooseUserManager();
    void cannotWake();
    void apply();
    void disarm();
    void failed(std::string const& what);
    void sayOnce(std::string const& kind, std::string const& line);
    void expired();

    Means means_ = Means::deciding;
    std::optional<double> atMs_;
    std::function<void()> onWakeUp_;
    std::unique_ptr<KernelWakeTimer> kernelTimer_;
    std::unique_ptr<SystemdWakeTimer> systemdTimer_;
    GObjectPtr<GDBusConnection> session_;
    guint userManagerWatch_ = 0;
    bool userManagerPresent_ = false;
    // The wake-up the means failed for: the same one is not tried again by the same means.
    std::optional<double> failedAt_;
    std::set<std::string> said_;
    AsyncCalls calls_;
};

} // namespace brindle::native
