#include "ringing/ringer.h"

#include <utility>

namespace brindle {

namespace {

constexpr double panelLabelPointSize = 23.0;
constexpr double safetyStopSeconds = 600.0;
constexpr char const* screenWakeReason = "A Brindle alarm is ringing";

} // namespace

Ringer::Ringer(Clock& clock, Sound& sound, Notifications& notifications, Desktop& desktop, Schedule& schedule)
    : clock_(clock)
    , notifications_(notifications)
    , desktop_(desktop)
    , schedule_(schedule)
    , sound_(clock, sound)
{
}

// A second ring while one is ringing takes over without stopping first: the newer alarm's sound,
// panel and safety stop replace the older one's, and the older alarm, already counted as fired,
// is forgotten.
void Ringer::ring(Alarm const& alarm)
{
    start(alarm, clock_.nowMs());
}

void Ringer::resume(RingRecord const& ring)
{
    double const left = ring.sinceMs + safetyStopSeconds * 1000.0 - clock_.nowMs();
    // A clock set back cannot make the ring longer than a whole safety stop.
    if (left > 0 && left <= safetyStopSeconds * 1000.0)
        start(ring.alarm, ring.sinceMs);
    else
        schedule_.recordRing(std::nullopt);
}

void Ringer::start(Alarm const& alarm, double sinceMs)
{
    ringing_ = alarm;
    schedule_.recordRing(RingRecord { alarm, sinceMs });

    // The sound starts before the panel is shown.
    sound_.play(alarm.sound, true, "Alarm: " + alarm.title);

    // The buttons act on whatever rings when they are pressed, not on the alarm they were made
    // for: a panel that outlived a newer ring still stops or snoozes the current alarm.
    panel_.reset();
    panel_ = desktop_.showAlarmPanel(PanelContent {
        "Brindle alarm",
        alarm.title,
        panelLabelPointSize,
        "Stop alarm",
        "Snooze 5 minutes",
        [this] { stop(); },
        [this] { snooze(); },
    });

    // A screen blanked by idle would hide the panel until someone moved the mouse.
    if (!screenWake_)
        screenWake_ = desktop_.wakeScreen(screenWakeReason);

    // One notification per ring: the one before is withdrawn before this one is posted, so the
    // desktop never shows two. Its actions, like the panel's buttons, act on whatever rings.
    notification_.reset();
    notification_ = notifications_.postAlarm(AlarmNotification {
        "Brindle alarm",
        alarm.title,
        "Stop alarm",
        "Snooze 5 minutes",
        [this] { stop(); },
        [this] { snooze(); },
    });

    safetyStopDue_ = false;
    double const left = sinceMs / 1000.0 + safetyStopSeconds - clock_.nowMs() / 1000.0;
    safetyTimer_ = clock_.startTimer(left, false, [this] {
        if (safetyStopHeld_)
            safetyStopDue_ = true;
        else
            stop();
    });
    if (ringingChanged_)
        ringingChanged_(true);
}

void Ringer::stop()
{
    sound_.stop();
    if (std::exchange(ringing_, std::nullopt))
        schedule_.recordRing(std::nullopt);
    panel_.reset();
    notification_.reset();
    screenWake_.reset();
    // This may run inside the safety timer's own callback; destroying a timer from there is safe.
    safetyTimer_.reset();
    safetyStopDue_ = false;
    if (ringingChanged_)
        ringingChanged_(false);
}

void Ringer::snooze()
{
    if (ringing_)
        schedule_.snooze(*ringing_);
    stop();
}

void Ringer::preview(std::string const& sound)
{
    if (!ringing_)
        sound_.play(sound, false, "Sound preview");
}

void Ringer::presentPanel()
{
    if (panel_)
        panel_->present();
}

void Ringer::holdSafetyStop()
{
    safetyStopHeld_ = true;
}

void Ringer::releaseSafetyStop()
{
    safetyStopHeld_ = false;
    if (safetyStopDue_)
        stop();
}

} // namespace brindle
