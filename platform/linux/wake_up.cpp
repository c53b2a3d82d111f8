#include "platform/linux/wake_up.h"

#include <cstdio>
#include <utility>

namespace brindle::native {

WakeUp::WakeUp()
    : kernelTimer_(std::make_unique<KernelWakeTimer>(CLOCK_REALTIME_ALARM, [this] { expired(); }))
{
    if (kernelTimer_->open())
        means_ = Means::kernel;
    else // Without CAP_WAKE_ALARM (EPERM), the user's systemd manager may wake the machine instead.
        kernelTimer_ = std::make_unique<KernelWakeTimer>(CLOCK_REALTIME, [this] { expired(); });
    // Watched with the kernel timer too: a Brindle before this one may have left a timer there.
    calls_.getBus(G_BUS_TYPE_SESSION, [this](GObjectPtr<GDBusConnection> session) {
        if (session)
            watchUserManager(std::move(session));
        else if (means_ == Means::deciding)
            cannotWake();
    });
}

WakeUp::~WakeUp()
{
    if (userManagerWatch_)
        g_bus_unwatch_name(userManagerWatch_);
}

void WakeUp::watchUserManager(GObjectPtr<GDBusConnection> session)
{
    session_ = std::move(session);
    // Answers at once with whether the manager is there, and again whenever that changes.
    userManagerWatch_ = g_bus_watch_name_on_connection(
        session_.get(), "org.freedesktop.systemd1", G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, gchar const*, gchar const*, gpointer self) {
            static_cast<WakeUp*>(self)->userManagerAppeared();
        },
        [](GDBusConnection*, gchar const*, gpointer self) {
            static_cast<WakeUp*>(self)->userManagerVanished();
        },
        this, nullptr);
}

void WakeUp::userManagerAppeared()
{
    userManagerPresent_ = true;
    // Listed before this Brindle starts a timer of its own, so every timer found is a leftover.
    removeLeftoverWakeTimers(calls_, session_.get());
    if (means_ != Means::kernel)
        chooseUserManager();
}

void WakeUp::userManagerVanished()
{
    userManagerPresent_ = false;
    // Its timers went with it.
    if (systemdTimer_)
        systemdTimer_->forget();
    if (means_ != Means::kernel)
        cannotWake();
}

void WakeUp::chooseUserManager()
{
    means_ = Means::deciding;
    askWakingUserManager(calls_, session_.get(), [this](bool canWake) {
        if (!canWake || !userManagerPresent_) {
            cannotWake();
            return;
        }
        means_ = Means::userManager;
        systemdTimer_
            = std::make_unique<SystemdWakeTimer>(session_, [this](std::string const& what) { failed(what); });
        apply();
    });
}

void WakeUp::cannotWake()
{
    means_ = Means::none;
    sayOnce("none",
        "Brindle: alarms cannot wake this machine from sleep (no CAP_WAKE_ALARM, and no systemd user manager "
        "of "
        "version 254 or later)");
    apply();
}

void WakeUp::set(std::optional<double> atMs, std::function<void()> onWakeUp)
{
    atMs_ = atMs;
    onWakeUp_ = std::move(onWakeUp);
    // The user manager that refused one wake-up may take the next.
    if (means_ == Means::none && failedAt_ && failedAt_ != atMs_ && userManagerPresent_) {
        failedAt_.reset();
        chooseUserManager();
    }
    if (means_ != Means::deciding)
        apply();
}

void WakeUp::apply()
{
    if (means_ == Means::deciding)
        return;
    if (means_ == Means::none || !atMs_) {
        disarm();
        return;
    }
    double const atMs = *atMs_;
    if (!KernelWakeTimer::canHold(atMs) || (systemdTimer_ && !SystemdWakeTimer::canHold(atMs))) {
        disarm();
        sayOnce("beyond",
            "Brindle: an alarm lies beyond what this machine's timers can hold, so it wakes nothing");
        return;
    }
    if (!kernelTimer_->set(atMs)) {
        failed("the kernel refused the timer");
        return;
    }
    if (!systemdTimer_)
        return;
    systemdTimer_->stop();
    // A moment already past needs no wake-up: the machine is awake now.
    double const nowMs = static_cast<double>(g_get_real_time()) / 1000.0;
    if (atMs >= nowMs + 1000.0)
        systemdTimer_->start(atMs);
}

void WakeUp::disarm()
{
    kernelTimer_->close();
    if (systemdTimer_)
        systemdTimer_->stop();
}

// Nothing set may be left to wake the machine at a stale time. The kernel alarm timer that failed
// gives way to the user manager; a user manager that failed is tried again for the next wake-up.
void WakeUp::failed(std::string const& what)
{
    sayOnce("failed", "Brindle: the wake-up for the next alarm failed and is removed (" + what + ")");
    disarm();
    failedAt_ = atMs_;
    if (means_ == Means::kernel) {
        kernelTimer_ = std::make_unique<KernelWakeTimer>(CLOCK_REALTIME, [this] { expired(); });
        if (userManagerPresent_) {
            chooseUserManager();
            return;
        }
    }
    means_ = Means::none;
}

void WakeUp::sayOnce(std::string const& kind, std::string const& line)
{
    if (said_.insert(kind).second)
        std::fprintf(stderr, "%s\n", line.c_str());
}

void WakeUp::expired()
{
    // The handler may set the next wake-up, which replaces onWakeUp_ under it.
    auto const onWakeUp = onWakeUp_;
    if (onWakeUp)
        onWakeUp();
}

} // namespace brindle::native
