#include "app/app_delegate.h"
#include "platform/unicode.h"

#include <algorithm>

namespace brindle {

namespace {

constexpr double snoozeDelayMs = 300'000.0;
constexpr std::string_view snoozeSuffix = "/snooze";

} // namespace

// Ends whatever rings, a preview included. Safe to call when nothing rings.
void AppDelegate::stopAlarm()
{
    if (player_)
        player_->stop();
    player_.reset();
    soundRetryTimer_.reset();

    active_.reset();

    if (alarmPanel_)
        alarmPanel_->close();
    alarmPanel_.reset();
    alarmNotification_.reset();

    // The invalidated timer stays until the next ring replaces it; this may be running inside
    // that very timer's callback.
    if (safetyTimer_)
        safetyTimer_->invalidate();
    releaseSleepHold(true);
}

// Every snooze in a chain shares one key and one base, so snoozing a snooze moves the pending
// snooze instead of stacking another one.
void AppDelegate::snoozeAlarm()
{
    if (!active_) {
        stopAlarm();
        return;
    }

    std::string base = active_->baseKey.value_or(active_->key);
    Alarm snooze {
        base + std::string(snoozeSuffix),
        platform_.nowMs() + snoozeDelayMs,
        active_->title,
        active_->sound,
        active_->mode,
        base,
    };

    std::erase_if(alarms_, [&](Alarm const& alarm) { return sameText(alarm.key, snooze.key); });
    alarms_.push_back(std::move(snooze));
    save();
    stopAlarm();
}

} // namespace brindle
