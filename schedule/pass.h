#pragma once

#include "schedule/alarm.h"
#include "schedule/fired_set.h"

#include <cstddef>
#include <string>
#include <vector>

namespace brindle {

// How late a delivery may be: a record this much or more behind the clock is dropped unheard.
inline constexpr double lateLimitMs = 900000.0;

// What one scheduler pass decides, before anything is delivered or written. It depends only on
// the clock reading, the schedule and the fired set, so the decisions can be checked (and
// timed) apart from the platform.
struct PassPlan {
    // now - 15 minutes; records at or before it leave the schedule.
    double lateLimit = 0;
    // The records to deliver, as positions in the schedule, in schedule order, and the fired
    // key of each. Two identical records both appear: the fired set is not consulted for keys
    // that this same pass adds.
    std::vector<std::size_t> due;
    std::vector<std::string> dueKeys;
    // How many records lie at or before the late limit.
    std::size_t pruneCount = 0;

    bool delivers() const { return !due.empty(); }
    // Only a pass that delivered rewrites the fired list and the store; pruning alone does not.
    bool saves() const { return delivers(); }
};

// One walk over the schedule. A record is in its window when lateLimit < at <= now; only
// records in the window have their fired key computed, so the common pass (nothing due,
// nothing to prune) copies and formats nothing.
PassPlan planPass(double now, std::vector<Alarm> const& alarms, FiredSet const& fired);

} // namespace brindle
