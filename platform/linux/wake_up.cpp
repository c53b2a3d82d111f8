#include "platform/linux/wake_up.h"

#include <cstdio>
#include <utility>

namespace brindle::native {

WakeUp::WakeUp()
    : kernelTimer_(std::make_unique<KernelWakeTimer>(CLOCK_REALTIME_ALARM, [this] { expired(); }))
{
    if (kernelTimer_->open()) {
        means_ = Means::kernel;
        return;
    }
    // Without CAP_WAKE_ALARM (EPERM), the user's systemd manager may wake the machine instead.
    kernelTimer_ = std::make_unique<KernelWakeTimer>(CLOCK_REALTIME, [this] { expired(); });
    findWakingUserManager(calls_, [this](GObjectPtr<GDBusConnection> session) {
        if (session) {
            means_ = Means::userManager;
            systemdTimer_ = std::make_unique<SystemdWakeTimer>(std::move(session));
        } else {
            means_ = Means::none;
            std::fputs(
                "Brindle: alarms cannot wake this machine from sleep (no CAP_WAKE_ALARM, and no systemd "
                "user manager of version 254 or later)\n",
                stderr);
        }
        apply();
    });
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
    if (atMs_)
        kernelTimer_->set(*atMs_);
    else
        kernelTimer_->close();
    if (!systemdTimer_)
        return;
    systemdTimer_->stop();
    // A moment already past needs no wake-up: the machine is awake now.
    double const nowMs = static_cast<double>(g_get_real_time()) / 1000.0;
    if (atMs_ && *atMs_ >= nowMs + 1000.0)
        systemdTimer_->start(*atMs_);
}

void WakeUp::expired()
{
    // The handler may set the next wake-up, which replaces onWakeUp_ under it.
    auto const onWakeUp = onWakeUp_;
    if (onWakeUp)
        onWakeUp();
}

} // namespace brindle::native
