#pragma once

#include "platform/linux/gobject_ptr.h"
#include "platform/platform.h"

#include <functional>
#include <gio/gio.h>
#include <memory>
#include <optional>
#include <string>
#include <time.h>

namespace brindle::native {

// Brindle's one wake-up from sleep, by the first means the machine offers, chosen once:
// - a kernel alarm timer (a timerfd on CLOCK_REALTIME_ALARM), where Brindle holds CAP_WAKE_ALARM;
// - otherwise a transient timer with WakeSystem=yes in the user's systemd manager, where that
//   manager holds the capability itself (systemd 254 and later give it to every user manager;
//   an older one fails every such timer with Result=resources);
// - otherwise none: one line on standard error says so, and alarms ring as before, only while
//   the machine is awake.
// The transient timer is replaced, never added to: the one before is stopped, and each has a
// name of its own, an instance of `<application id>-wake-up@.timer`, so that masking that
// template stops Brindle from waking the machine. It is removed when no alarm is ahead and when
// Brindle quits; a Brindle that is killed leaves it behind, and it fires once more and is gone
// (RemainAfterElapse=no).
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
    bool openTimer(int clock);
    void closeTimer();
    void decide(GDBusConnection* session, std::string const& version);
    void apply();
    void startTransientTimer(double atMs);
    void stopTransientTimer();
    void fired();

    Means means_ = Means::deciding;
    std::optional<double> atMs_;
    std::function<void()> onWakeUp_;
    // The kernel alarm timer, or where the user manager wakes the machine, a plain real-time
    // timer that tells Brindle the moment has come.
    int clock_ = CLOCK_REALTIME_ALARM;
    int timer_ = -1;
    guint watch_ = 0;
    GObjectPtr<GCancellable> cancellable_;
    GObjectPtr<GDBusConnection> session_;
    std::string transientTimer_;
    unsigned serial_ = 0;
};

// logind's block inhibitor for the lid switch, on the system bus, held until destroyed. Without
// a system bus or logind there is nothing to hold, silently.
std::unique_ptr<SleepHold> holdSleepWithLogind(std::string const& reason);

} // namespace brindle::native
