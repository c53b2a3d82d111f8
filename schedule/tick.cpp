#include "app/app_delegate.h"
#include "schedule/pass.h"
#include "text/unicode.h"

namespace brindle {

// One scheduler pass. A record counts as delivered from the moment it is due: its key joins
// the fired set before it rings or notifies, and the fired list is written before the schedule,
// whose save also settles the keep-awake activity. A pass that only pruned writes nothing; after
// a restart the same rule drops those records again.
void AppDelegate::tick()
{
    auto plan = planPass(platform_.nowMs(), alarms_, fired_);

    if (plan.delivers()) {
        // Copies, since ringing may change the schedule while the pass goes on.
        std::vector<Alarm> due;
        due.reserve(plan.due.size());
        for (auto index : plan.due)
            due.push_back(alarms_[index]);

        for (std::size_t i = 0; i < due.size(); ++i) {
            fired_.insert(std::move(plan.dueKeys[i]));
            if (sameText(due[i].mode, ringingMode))
                ring(due[i]);
            else
                platform_.postNotification({ due[i].key, "Brindle reminder", due[i].title });
        }
        storeFired();
    }

    if (plan.pruneCount > 0)
        std::erase_if(alarms_, [&](Alarm const& alarm) { return alarm.at <= plan.lateLimit; });

    if (plan.saves())
        save();
}

// Alarms that fell due while the machine slept are delivered now, if they are less than
// fifteen minutes late, rather than at the next beat of the timer.
void AppDelegate::woke()
{
    tick();
}

} // namespace brindle
