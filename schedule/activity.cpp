#include "app/app_delegate.h"

#include <algorithm>

namespace brindle {

namespace {

constexpr char const* deliveringAlarmsReason = "Deliver scheduled Brindle alarms while the machine is awake";

} // namespace

void AppDelegate::updateActivity()
{
    // The clock is read afresh for every record, so a long walk cannot count a record as ahead
    // once its time has passed during the walk.
    bool pending = std::any_of(
        alarms_.begin(), alarms_.end(), [this](Alarm const& alarm) { return platform_.nowMs() < alarm.at; });
    if (pending && !activity_)
        activity_ = platform_.beginActivity(deliveringAlarmsReason);
    else if (!pending && activity_)
        activity_.reset();
}

} // namespace brindle
