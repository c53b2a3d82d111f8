#pragma once

#include "platform/clock.h"
#include "platform/files.h"
#include "schedule/alarm.h"
#include "schedule/fired_set.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// The reminders and alarms the page handed over, the fired keys of every delivery, and the two
// files that keep them across restarts: the store in the user's data folder and the fired list
// in the user's config folder, each in a folder of Brindle's own.
class Schedule {
public:
    // Touches nothing until load(). `folderName` is Brindle's folder under both user folders.
    Schedule(Clock& clock, Files& files, std::string folderName);

    // Reads both files; a missing or unreadable one leaves that part empty.
    void load();

    // One scheduler pass: every record that fell due within the last fifteen minutes and was not
    // delivered before is handed to `deliver`, in schedule order; records further behind leave.
    void runPass(std::function<void(Alarm const&)> const& deliver);

    // The page's whole schedule replaces Brindle's. Brindle's own snoozes are not in the page's
    // list, so a snooze that is not yet due and whose task `taskListed` is kept after it, unless
    // the page sent a record of the same key.
    void replace(std::vector<Alarm> alarms, std::function<bool(std::string_view key)> const& taskListed);

    // Snoozing a ringing alarm schedules it again five minutes from now. Every snooze in a chain
    // shares one key and one base, so snoozing a snooze moves the pending snooze instead of
    // stacking another one.
    void snooze(Alarm const& ringing);

    // Whether an alarm (not a reminder) is still to ring.
    bool alarmAhead();

    std::vector<Alarm> const& alarms() const { return alarms_; }
    FiredSet const& fired() const { return fired_; }

    // The one change signal: the records changed (a pass that delivered, a new schedule, a
    // snooze) and are written to the store right after. Whoever plans ahead from them listens.
    void onChanged(std::function<void()> handler) { changed_ = std::move(handler); }

private:
    std::optional<std::string> folder(std::optional<std::string> const& parent);
    void save();
    void storeFired();

    Clock& clock_;
    Files& files_;
    std::string const folderName_;
    std::vector<Alarm> alarms_;
    FiredSet fired_;
    std::function<void()> changed_;
};

} // namespace brindle
