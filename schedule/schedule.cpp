#include "schedule/schedule.h"

#include "schedule/alarm_json.h"
#include "schedule/fired_store.h"
#include "schedule/pass.h"
#include "text/unicode.h"

#include <algorithm>

namespace brindle {

namespace {

constexpr double snoozeDelayMs = 300'000.0;
constexpr std::string_view snoozeSuffix = "/snooze";

} // namespace

Schedule::Schedule(Clock& clock, Files& files, std::string folderName)
    : clock_(clock)
    , files_(files)
    , folderName_(std::move(folderName))
{
}

// Brindle's folder under a user folder, created when missing. Without the user folder (a broken
// environment) Brindle keeps that part in memory only: nothing is read and nothing is written.
std::optional<std::string> Schedule::folder(std::optional<std::string> const& parent)
{
    if (!parent)
        return std::nullopt;
    auto folder = *parent + "/" + folderName_;
    // A failure shows itself when the write into the folder fails, and that is swallowed too.
    files_.createDirectories(folder);
    return folder;
}

void Schedule::load()
{
    if (auto data = folder(files_.userDataDirectory())) {
        if (auto text = files_.readFile(*data + "/alarms.json")) {
            if (auto alarms = decodeAlarmsJson(*text))
                alarms_ = std::move(*alarms);
        }
    }
    FiredSet fired;
    if (auto config = files_.userConfigDirectory()) {
        if (auto text = files_.readFile(*config + "/" + folderName_ + "/defaults.json")) {
            for (auto& key : readFiredDefaults(*text).value_or(std::vector<std::string> {}))
                fired.insert(std::move(key));
        }
    }
    fired_ = std::move(fired);
}

// A record counts as delivered from the moment it is due: its key joins the fired set before it
// rings or notifies, and the fired list is written before the schedule. A kill between the two
// writes then leaves an alarm that rings twice rather than one that never rings. A pass that only
// pruned writes nothing; after a restart the same rule drops those records again.
void Schedule::runPass(std::function<void(Alarm const&)> const& deliver)
{
    auto plan = planPass(clock_.nowMs(), alarms_, fired_);

    if (plan.delivers()) {
        // Copies, since delivering may change the schedule while the pass goes on.
        std::vector<Alarm> due;
        due.reserve(plan.due.size());
        for (auto index : plan.due)
            due.push_back(alarms_[index]);

        for (std::size_t i = 0; i < due.size(); ++i) {
            fired_.insert(std::move(plan.dueKeys[i]));
            deliver(due[i]);
        }
        storeFired();
    }

    if (plan.pruneCount > 0)
        std::erase_if(alarms_, [&](Alarm const& alarm) { return alarm.at <= plan.lateLimit; });

    if (plan.saves())
        save();
}

void Schedule::replace(std::vector<Alarm> alarms, std::function<bool(std::string_view key)> const& taskListed)
{
    double const now = clock_.nowMs();
    std::size_t const fromPage = alarms.size();
    for (auto const& alarm : alarms_) {
        if (!alarm.baseKey || !taskListed(*alarm.baseKey) || !(alarm.at > now))
            continue;
        // A page may send a base key of its own; its record, sent again, replaces the kept one
        // rather than standing beside it and being delivered twice.
        auto const end = alarms.begin() + static_cast<std::ptrdiff_t>(fromPage);
        if (std::none_of(
                alarms.begin(), end, [&](Alarm const& sent) { return sameText(sent.key, alarm.key); }))
            alarms.push_back(alarm);
    }
    alarms_ = std::move(alarms);
    save();
}

void Schedule::snooze(Alarm const& ringing)
{
    std::string base = ringing.baseKey.value_or(ringing.key);
    Alarm snooze {
        base + std::string(snoozeSuffix),
        clock_.nowMs() + snoozeDelayMs,
        ringing.title,
        ringing.sound,
        ringing.mode,
        base,
    };
    std::erase_if(alarms_, [&](Alarm const& alarm) { return sameText(alarm.key, snooze.key); });
    alarms_.push_back(std::move(snooze));
    save();
}

// Reminders do not count: the question this answers is about ringing.
bool Schedule::alarmAhead()
{
    double const now = clock_.nowMs();
    return std::any_of(alarms_.begin(), alarms_.end(),
        [&](Alarm const& alarm) { return sameText(alarm.mode, ringingMode) && now < alarm.at; });
}

// The write goes aside and is renamed over the old file, so a failure leaves that file whole and
// the next save tries again.
void Schedule::save()
{
    if (changed_)
        changed_();
    auto text = encodeAlarmsJson(alarms_);
    if (text.empty())
        return;
    if (auto data = folder(files_.userDataDirectory()))
        files_.writeFileAtomically(*data + "/alarms.json", text);
}

void Schedule::storeFired()
{
    auto config = folder(files_.userConfigDirectory());
    if (!config)
        return;
    auto path = *config + "/defaults.json";
    auto existing = files_.readFile(path);
    auto text = writeFiredDefaults(existing ? std::optional<std::string_view>(*existing) : std::nullopt,
        fired_.mostRecent(storedFiredLimit));
    if (!text.empty())
        files_.writeFileAtomically(path, text);
}

} // namespace brindle
