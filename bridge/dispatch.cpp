#include "app/app_delegate.h"
#include "schedule/alarm_json.h"
#include "text/unicode.h"

#include <algorithm>
#include <unordered_set>

namespace brindle {

namespace {

constexpr std::string_view invalidSchedule = "Invalid alarm schedule";
constexpr std::string_view unknownRequest = "Unknown desktop request";

// The page task an alarm belongs to: the first non-empty "/"-separated piece of its key (or of
// a snooze's base key), or the empty text when there is none. "a/b/c" and "/a/b" both give "a".
std::string_view taskId(std::string_view key)
{
    auto start = key.find_first_not_of('/');
    if (start == std::string_view::npos)
        return {};
    auto end = key.find('/', start);
    return key.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// The page's task ids in their composed spelling, so that each lookup is one hash probe
// however long the schedule is.
class TaskIdSet {
public:
    // The member "taskIds" when it is an array of strings only; any other form lists nothing.
    explicit TaskIdSet(RequestData const& data)
    {
        auto const* member = findMember(data, "taskIds");
        if (!member || !member->IsArray())
            return;
        auto const& array = member->GetArray();
        if (!std::all_of(array.Begin(), array.End(), [](auto const& element) { return element.IsString(); }))
            return;
        for (auto const& element : array)
            ids_.insert(canonicalText({ element.GetString(), element.GetStringLength() }));
    }

    bool lists(std::string_view key) const
    {
        return !ids_.empty() && ids_.contains(canonicalText(taskId(key)));
    }

private:
    std::unordered_set<std::string> ids_;
};

} // namespace

void AppDelegate::didReceiveScriptMessage(ScriptMessage const& message)
{
    auto request = readRequest(message, appHost_);
    if (!request)
        return;
    auto const& method = request->method;
    if (sameText(method, "permission"))
        permission(request->id);
    else if (sameText(method, "enable"))
        enable(request->id);
    else if (sameText(method, "schedule"))
        replaceSchedule(request->id, request->data());
    else if (sameText(method, "stop")) {
        stopAlarm();
        reply(request->id);
    } else if (sameText(method, "preview"))
        preview(request->id, request->data());
    else
        reply(request->id, true, std::string(unknownRequest));
}

// The page hands over its whole schedule. Snoozes that Brindle made itself are not in the
// page's list, so those of a task the page still lists, and not yet due, are kept after it.
void AppDelegate::replaceSchedule(std::int64_t id, RequestData const& data)
{
    auto const* alarmsMember = findMember(data, "alarms");
    if (!alarmsMember || !alarmsMember->IsArray()) {
        reply(id, true, std::string(invalidSchedule));
        return;
    }
    auto const& list = alarmsMember->GetArray();
    if (!std::all_of(list.Begin(), list.End(), [](auto const& element) { return element.IsObject(); })) {
        reply(id, true, std::string(invalidSchedule));
        return;
    }
    auto decoded = decodeAlarms(*alarmsMember);
    if (!decoded) {
        reply(id, true, std::string(invalidSchedule));
        return;
    }

    TaskIdSet taskIds(data);
    double now = platform_.nowMs();
    std::vector<Alarm> next = std::move(*decoded);
    for (auto const& alarm : alarms_) {
        if (alarm.baseKey && taskIds.lists(*alarm.baseKey) && alarm.at > now)
            next.push_back(alarm);
    }
    alarms_ = std::move(next);
    save();

    if (active_ && !taskIds.lists(active_->key))
        stopAlarm();
    reply(id);
}

// A preview never sounds over a ringing alarm, whose player it would replace.
void AppDelegate::preview(std::int64_t id, RequestData const& data)
{
    if (!active_) {
        auto const* sound = findMember(data, "sound");
        bool named = sound && sound->IsString();
        play(named ? std::string(sound->GetString(), sound->GetStringLength()) : std::string("bell"), false);
    }
    reply(id);
}

} // namespace brindle
