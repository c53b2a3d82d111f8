#pragma once

#include "platform/clock.h"
#include "platform/power.h"
#include "schedule/alarm.h"
#include "schedule/fired_set.h"

#include <memory>
#include <optional>
#include <vector>

namespace brindle {

// What Brindle asks of the machine's power for the alarms ahead: the keep-awake activity while
// any record lies ahead, the wake-up for the earliest alarm still to ring, and, once that
// wake-up came, the hold on sleep that keeps a laptop with its lid closed awake for the ring.
class WakeUp {
public:
    // Touches nothing until the first update().
    WakeUp(Clock& clock, Power& power);

    // Settles the activity and the wake-up from the schedule as it is now.
    void update(std::vector<Alarm> const& alarms, FiredSet const& fired);
    // A ring began or ended: a ring that is on keeps the hold on sleep until it ends.
    void ringingChanged(bool ringing);
    // Brindle quits: nothing rings any more, so nothing may wake the machine for it.
    void cancel();

    bool holdsActivity() const { return activity_ != nullptr; }

private:
    void updateActivity(std::vector<Alarm> const& alarms);
    void woke();
    void releaseSleepHold(bool ringEnded = false);
    void releaseSleepHoldWithoutAlarm(std::vector<Alarm> const& alarms, FiredSet const& fired);

    Clock& clock_;
    Power& power_;
    std::unique_ptr<ActivityToken> activity_;
    // The wake-up set for the earliest alarm ahead (none: removed) and that alarm's time.
    std::optional<double> wakeUp_;
    bool wakeUpSet_ = false;
    double wakeUpAlarmAt_ = 0;
    // Taken when the wake-up came, for the alarm at sleepHoldAlarmAt_.
    std::unique_ptr<SleepHold> sleepHold_;
    double sleepHoldAlarmAt_ = 0;
    std::unique_ptr<Timer> sleepHoldTimer_;
    bool ringing_ = false;
};

} // namespace brindle
