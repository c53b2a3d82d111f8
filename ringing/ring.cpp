#include "app/app_delegate.h"

namespace brindle {

namespace {

constexpr double panelLabelPointSize = 23.0;
constexpr double safetyStopSeconds = 600.0;

} // namespace

// Rings one due alarm. A second ring while one is ringing takes over without stopping first:
// the newer alarm's sound, panel and safety timer replace the older one's, and the older alarm,
// already counted as fired, is forgotten.
void AppDelegate::ring(Alarm const& alarm)
{
    active_ = alarm;

    // The sound starts before the panel is shown.
    play(alarm.sound, true);

    if (alarmPanel_)
        alarmPanel_->close();

    // The buttons act on whatever rings when they are pressed, not on the alarm they were made
    // for: a panel that outlived a newer ring still stops or snoozes the current alarm.
    auto panel = platform_.showAlarmPanel(PanelContent {
        "Brindle alarm",
        alarm.title,
        panelLabelPointSize,
        "Stop alarm",
        "Snooze 5 minutes",
        [this] { stopAlarm(); },
        [this] { snoozeAlarm(); },
    });
    platform_.activateApplication();
    alarmPanel_ = std::move(panel);

    // One notification per ring: the one before is withdrawn before this one is posted, so the
    // desktop never shows two. Its actions, like the panel's buttons, act on whatever rings.
    alarmNotification_.reset();
    alarmNotification_ = platform_.postAlarmNotification(AlarmNotification {
        "Brindle alarm",
        alarm.title,
        "Stop alarm",
        "Snooze 5 minutes",
        [this] { stopAlarm(); },
        [this] { snoozeAlarm(); },
    });

    if (safetyTimer_)
        safetyTimer_->invalidate();
    // While the quit question is up the stop waits for its answer (see quitRequested), so that an
    // alarm is not stopped behind the user's back. The controller owns the timer, which cannot
    // outlive it.
    safetyStopHeld_ = false;
    safetyTimer_ = platform_.scheduleTimer(safetyStopSeconds, false, [this] {
        if (quitQuestionUp_)
            safetyStopHeld_ = true;
        else
            stopAlarm();
    });
}

} // namespace brindle
