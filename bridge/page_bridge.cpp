#include "bridge/page_bridge.h"

#include "bridge/reply.h"
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

PageBridge::PageBridge(
    Notifications& notifications, WebView& webView, Schedule& schedule, Ringer& ringer, std::string appHost)
    : notifications_(notifications)
    , webView_(webView)
    , schedule_(schedule)
    , ringer_(ringer)
    , appHost_(std::move(appHost))
{
}

void PageBridge::handleMessage(ScriptMessage const& message)
{
    auto request = readRequest(message, appHost_);
    if (!request)
        return;
    auto const& method = request->method;
    // Linux asks no permission to notify: "enable" answers from the same check as "permission".
    if (sameText(method, "permission") || sameText(method, "enable"))
        answerPermission(request->id);
    else if (sameText(method, "schedule"))
        replaceSchedule(request->id, request->data());
    else if (sameText(method, "stop")) {
        ringer_.stop();
        reply(request->id);
    } else if (sameText(method, "preview"))
        preview(request->id, request->data());
    else
        reply(request->id, true, std::string(unknownRequest));
}

// The page hands over its whole schedule, and with it the tasks it still lists.
void PageBridge::replaceSchedule(std::int64_t id, RequestData const& data)
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
    auto listed = [&](std::string_view key) { return taskIds.lists(key); };
    schedule_.replace(std::move(*decoded), listed);

    // An alarm whose task the page no longer lists stops ringing.
    if (auto const& ringing = ringer_.ringing(); ringing && !listed(ringing->key))
        ringer_.stop();
    reply(id);
}

void PageBridge::preview(std::int64_t id, RequestData const& data)
{
    auto const* sound = findMember(data, "sound");
    bool named = sound && sound->IsString();
    ringer_.preview(named ? std::string(sound->GetString(), sound->GetStringLength()) : std::string("bell"));
    reply(id);
}

// The answer comes from the notification server later, on the main loop; the bridge outlives
// every pending answer, so holding it by reference is safe.
void PageBridge::answerPermission(std::int64_t id)
{
    notifications_.checkAllowed(
        [this, id](bool allowed) { reply(id, std::string(allowed ? "granted" : "denied")); });
}

void PageBridge::reply(std::int64_t id, ReplyValue const& value, std::optional<std::string> const& error)
{
    if (auto script = replyScript(id, value, error))
        webView_.evaluateJavaScript(*script);
}

} // namespace brindle
