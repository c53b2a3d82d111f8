#pragma once

#include "platform/linux/async_calls.h"
#include "platform/linux/kernel_wake_timer.h"
#include "platform/linux/systemd_wake_timer.h"

#include <functional>
#include <memory>
#include <optional>

namespace brindle::native {

// Brindle's one wake-up from sleep, by the first means the machine offers, chosen once:
// - a kernel alarm timer, where Brindle holds CAP_WAKE_ALARM;
// - otherwise a transient timer in the user's systemd manager, where that manager can wake the
//   machine, and a plain kernel timer on the real-time clock that tells Brindle the moment;
// - otherwise none: one line on standard error says so, and alarms ring as before, only while
//   the machine is awake.
class WakeUp {
public:
    WakeUp();
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
    void apply();
    void expired();

    Means means_ = Means::deciding;
    std::optional<double> atMs_;
    std::function<void()> onWakeUp_;
    std::unique_ptr<KernelWakeTimer> kernelTimer_;
    std::unique_ptr<SystemdWakeTimer> systemdTimer_;
    AsyncCalls calls_;
};

} // namespace brindle::native
