#include "schedule/pass.h"

#include "schedule/fired_key.h"

namespace brindle {

PassPlan planPass(double now, std::vector<Alarm> const& alarms, FiredSet const& fired)
{
    PassPlan plan;
    plan.lateLimit = now + -lateLimitMs;
    for (std::size_t index = 0; index < alarms.size(); ++index) {
        double at = alarms[index].at;
        if (at <= plan.lateLimit) {
            ++plan.pruneCount;
            continue;
        }
        if (!(at <= now))
            continue;
        auto key = firedKey(alarms[index]);
        if (fired.contains(key))
            continue;
        plan.due.push_back(index);
        plan.dueKeys.push_back(std::move(key));
    }
    return plan;
}

} // namespace brindle
