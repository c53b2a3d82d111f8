#include "app/app_delegate.h"
#include "platform/unicode.h"
#include "schedule/fired_key.h"
#include "schedule/pass.h"

#include <algorithm>

namespace brindle {

namespace {

// The machine wakes this long before an alarm, so that it has resumed and the sound server is
// back when the tick rings it.
constexpr double wakeUpLeadMs = 60000.0;
// After a wake-up the machine is kept from sleeping until the alarm has rung, or, when nothing
// rings by this long after the alarm's time (it was answered from the page, moved or removed
// meanwhile), no longer.
constexpr double sleepHoldGraceMs = 60000.0;
constexpr char const* sleepHoldReason = "A Brindle alarm is about to ring";

} // namespace

// Only ringing alarms wake the machine: a reminder can wait for the next wake. An alarm that has
// rung, or is past the window in which the tick would still ring it, needs no wake-up.
void AppDelegate::updateWakeUp()
{
    double const now = platform_.nowMs();
    Alarm const* earliest = nullptr;
    for (auto const& alarm : alarms_) {
        if (!sameText(alarm.mode, ringingMode) || alarm.at <= now - lateLimitMs)
            continue;
        if (earliest && earliest->at <= alarm.at)
            continue;
        if (!fired_.contains(firedKey(alarm)))
            earliest = &alarm;
    }

    std::optional<double> wakeUp;
    if (earliest) {
        // Less than the lead ahead: the machine still wakes for the alarm's own time, should it
        // sleep in between.
        wakeUp = earliest->at - wakeUpLeadMs > now ? earliest->at - wakeUpLeadMs : earliest->at;
        wakeUpAlarmAt_ = earliest->at;
    }
    if (wakeUp == wakeUp_ && wakeUpSet_)
        return;
    wakeUp_ = wakeUp;
    wakeUpSet_ = true;
    platform_.setWakeUp(wakeUp, [this] { wokeForAlarm(); });
}

// A laptop woken with its lid closed is put back to sleep by the login manager within half a
// minute, long before the alarm has rung; the hold keeps it awake for the ring.
void AppDelegate::wokeForAlarm()
{
    if (!sleepHold_)
        sleepHold_ = platform_.holdSleep(sleepHoldReason);
    sleepHoldAlarmAt_ = wakeUpAlarmAt_;
    double const until = sleepHoldAlarmAt_ + sleepHoldGraceMs;
    sleepHoldTimer_ = platform_.scheduleTimer(
        std::max(0.0, until - platform_.nowMs()) / 1000.0, false, TimerModes::common, [this] {
            // A ring that is on keeps the hold until it ends.
            if (!active_)
                releaseSleepHold();
        });
}

// Called when a ring ends: the hold goes, unless it was taken for an alarm still to come.
void AppDelegate::releaseSleepHold(bool ringEnded)
{
    if (ringEnded && platform_.nowMs() < sleepHoldAlarmAt_)
        return;
    sleepHold_.reset();
    // This may run inside the timer's own callback, so the timer is only invalidated.
    if (sleepHoldTimer_)
        sleepHoldTimer_->invalidate();
}

} // namespace brindle
