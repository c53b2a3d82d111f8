#include "schedule/pass.h"

#include "schedule/fired_key.h"

namespace brindle {

namespace {

// Kept out of line so that the walk over the schedule stays a few instructions per record,
// which lets the processor have many records' times in flight at once on long schedules.
[[gnu::noinline]] void considerDue(
    PassPlan& plan, std::size_t index, Alarm const& alarm, FiredSet const& fired)
{
    auto key = firedKey(alarm);
    if (fired.contains(key))
        return;
    plan.due.push_back(index);
    plan.dueKeys.push_back(std::move(key));
}

} // namespace

PassPlan planPass(double now, std::vector<Alarm> const& alarms, FiredSet const& fired)
{
    PassPlan plan;
    // Locals rather than the plan's fields, which the compiler would otherwise reload from
    // memory for every record: they might alias the times being read.
    double const lateLimit = now + -lateLimitMs;
    std::size_t pruneCount = 0;
    Alarm const* const first = alarms.data();
    Alarm const* const last = first + alarms.size();
    for (Alarm const* alarm = first; alarm != last; ++alarm) {
        double const at = alarm->at;
        // Most records lie ahead; a time that is not a number is never due and never pruned.
        if (!(at <= now)) [[likely]]
            continue;
        if (at <= lateLimit)
            ++pruneCount;
        else
            considerDue(plan, static_cast<std::size_t>(alarm - first), *alarm, fired);
    }
    plan.lateLimit = lateLimit;
    plan.pruneCount = pruneCount;
    return plan;
}

} // namespace brindle
