#include "app/app_delegate.h"

#include <algorithm>

namespace brindle {

namespace {

// User-initiated work that still lets the machine sleep when idle: every user-initiated bit
// except the one that holds off idle system sleep.
constexpr std::uint64_t deliveringAlarmsActivity = 0xEFFFFF;
constexpr char const* deliveringAlarmsReason = "Deliver scheduled Brindle alarms while the Mac is awake";

} // namespace

void AppDelegate::updateActivity()
{
    // The clock is read afresh for every record, so a long walk cannot count a record as ahead
    // once its time has passed during the walk.
    bool pending = std::any_of(
        alarms_.begin(), alarms_.end(), [this](Alarm const& alarm) { return platform_.nowMs() < alarm.at; });
    if (pending && !activity_)
        activity_ = platform_.beginActivity(deliveringAlarmsActivity, deliveringAlarmsReason);
    else if (!pending && activity_)
        activity_.reset();
}

} // namespace brindle
