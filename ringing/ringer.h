#pragma once

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/notifications.h"
#include "ringing/alarm_sound.h"
#include "schedule/alarm.h"
#include "schedule/schedule.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindle {

// The alarm that rings now, and everything that rings it: the looping sound, the panel above
// every window, the notification for whoever cannot see the panel, and the safety stop that ends
// a ring nobody answers.
class Ringer {
public:
    // Touches nothing until something rings. A snooze goes into `schedule`.
    Ringer(Clock& clock, Sound& sound, Notifications& notifications, Desktop& desktop, Schedule& schedule);

    void ring(Alarm const& alarm);
    // Ends whatever rings, a preview included. Safe to call when nothing rings.
    void stop();
    // Schedules the ringing alarm again in five minutes and stops it.
    void snooze();
    // Plays a sound once, unless an alarm rings: a preview never replaces a ringing alarm's sound.
    void preview(std::string const& sound);
    // Shows the panel again, after Brindle was hidden while it rang.
    void presentPanel();

    // The quit question is up: a safety stop that falls due meanwhile waits for the answer, so
    // that an alarm is not stopped behind the user's back.
    void holdSafetyStop();
    void releaseSafetyStop();

    std::optional<Alarm> const& ringing() const { return ringing_; }
    bool hasPlayer() const { return sound_.hasPlayer(); }
    bool hasPanel() const { return panel_ != nullptr; }
    bool hasNotification() const { return notification_ != nullptr; }

    // The one change signal: a ring began (true), or whatever rang was stopped (false).
    void onRingingChanged(std::function<void(bool ringing)> handler) { ringingChanged_ = std::move(handler); }

private:
    Clock& clock_;
    Notifications& notifications_;
    Desktop& desktop_;
    Schedule& schedule_;
    std::optional<Alarm> ringing_;
    AlarmSound sound_;
    std::unique_ptr<AlarmPanel> panel_;
    std::unique_ptr<PostedNotification> notification_;
    std::unique_ptr<Timer> safetyTimer_;
    bool safetyStopHeld_ = false;
    bool safetyStopDue_ = false;
    std::function<void(bool)> ringingChanged_;
};

} // namespace brindle
