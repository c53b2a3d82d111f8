#include "schedule/wake_up.h"

#include "schedule/fired_key.h"
#include "schedule/pass.h"
#include "text/unicode.h"

#include <algorithm>

namespace brindle {

namespace {

constexpr char const* deliveringAlarmsReason = "Deliver scheduled Brindle alarms while the machine is awake";
// The machine wakes this long before an alarm, so that it has resumed and the sound server is
// back when the tick rings it.
constexpr double wakeUpLeadMs = 60000.0;
// After a wake-up the machine is kept from sleeping until the alarm has rung, or, when nothing
// rings by this long after the alarm's time (it was answered from the page, moved or removed
// meanwhile), no longer.
constexpr double sleepHoldGraceMs = 60000.0;
constexpr char const* sleepHoldReason = "A Brindle alarm is about to ring";
// The last second of the year 9999, the latest moment systemd's timers can name; the kernel's
// clock reaches further, but a page may send any finite time. An alarm beyond it stays in the
// schedule and rings should the clock ever get there, but wakes nothing: arming for it would fail
// and leave the wake-up before it in place.
constexpr double latestWakeUpMs = 253'402'300'799'000.0;

} // namespace

WakeUp::WakeUp(Clock& clock, Power& power)
    : clock_(clock)
    , power_(power)
{
}

// Only ringing alarms wake the machine: a reminder can wait for the next wake. An alarm that has
// rung, or is past the window in which the tick would still ring it, needs no wake-up.
void WakeUp::update(std::vector<Alarm> const& alarms, FiredSet const& fired)
{
    updateActivity(alarms);

    double const now = clock_.nowMs();
    Alarm const* earliest = nullptr;
    for (auto const& alarm : alarms) {
        if (!sameText(alarm.mode, ringingMode) || alarm.at <= now - lateLimitMs || alarm.at > latestWakeUpMs)
            continue;
        if (earliest && earliest->at <= alarm.at)
            continue;
        if (!fired.contains(firedKey(alarm)))
            earliest = &alarm;
    }

    std::optional<double> wakeUp;
    if (earliest) {
        // Less than the lead ahead: the machine still wakes for the alarm's own time, should it
        // sleep in between.
        wakeUp = earliest->at - wakeUpLeadMs > now ? earliest->at - wakeUpLeadMs : earliest->at;
        wakeUpAlarmAt_ = earliest->at;
    }
    releaseSleepHoldWithoutAlarm(alarms, fired);
    if (wakeUp == wakeUp_ && wakeUpSet_)
        return;
    wakeUp_ = wakeUp;
    wakeUpSet_ = true;
    power_.setWakeUp(wakeUp, [this] { woke(); });
}

void WakeUp::updateActivity(std::vector<Alarm> const& alarms)
{
    // The clock is read afresh for every record, so a long walk cannot count a record as ahead
    // once its time has passed during the walk.
    bool pending = std::any_of(
        alarms.begin(), alarms.end(), [this](Alarm const& alarm) { return clock_.nowMs() < alarm.at; });
    if (pending && !activity_)
        activity_ = power_.beginActivity(deliveringAlarmsReason);
    else if (!pending && activity_)
        activity_.reset();
}

// A laptop woken with its lid closed is put back to sleep by the login manager within half a
// minute, long before the alarm has rung; the hold keeps it awake for the ring.
void WakeUp::woke()
{
    if (!sleepHold_)
        sleepHold_ = power_.holdSleep(sleepHoldReason);
    sleepHoldAlarmAt_ = wakeUpAlarmAt_;
    double const until = sleepHoldAlarmAt_ + sleepHoldGraceMs;
    sleepHoldTimer_ = clock_.startTimer(std::max(0.0, until - clock_.nowMs()) / 1000.0, false, [this] {
        // A ring that is on keeps the hold until it ends.
        if (!ringing_)
            releaseSleepHold();
    });
}

// The hold is for one alarm: once that alarm has left the schedule, moved, or rung, and nothing
// rings, nothing is left to keep the machine awake for.
void WakeUp::releaseSleepHoldWithoutAlarm(std::vector<Alarm> const& alarms, FiredSet const& fired)
{
    if (!sleepHold_ || ringing_)
        return;
    bool const stillAhead = std::any_of(alarms.begin(), alarms.end(), [&](Alarm const& alarm) {
        return alarm.at == sleepHoldAlarmAt_ && sameText(alarm.mode, ringingMode)
            && !fired.contains(firedKey(alarm));
    });
    if (!stillAhead)
        releaseSleepHold();
}

void WakeUp::ringingChanged(bool ringing)
{
    ringing_ = ringing;
    if (!ringing)
        releaseSleepHold(true);
}

void WakeUp::cancel()
{
    wakeUp_.reset();
    power_.setWakeUp(std::nullopt, {});
    releaseSleepHold();
}

// When a ring ends the hold goes, unless it was taken for an alarm still to come.
void WakeUp::releaseSleepHold(bool ringEnded)
{
    if (ringEnded && clock_.nowMs() < sleepHoldAlarmAt_)
        return;
    sleepHold_.reset();
    // This may run inside the timer's own callback; destroying a timer from there is safe.
    sleepHoldTimer_.reset();
}

} // namespace brindle
