// Feeds arbitrary page messages to a launched controller on the fake platform. The first byte
// picks the frame and origin the message claims and whether an alarm rings; the rest is the
// body. Besides the sanitizers' own findings it checks the bridge's promises: only the planner's
// main frame is ever answered, a message is answered at most once, every answer is a well-formed
// reply script, a message that gets no answer changes nothing, and the store file always holds
// exactly the schedule in memory.

#include "app/app_delegate.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <rapidjson/document.h>
#include <string>
#include <string_view>

namespace {

using namespace brindle;

constexpr char const* host = "planner.example";
constexpr char const* storeFolder = "/home/test/.local/share/Brindle";
constexpr char const* storePath = "/home/test/.local/share/Brindle/alarms.json";

void require(bool holds, char const* promise)
{
    if (holds)
        return;
    std::fprintf(stderr, "bridge promise broken: %s\n", promise);
    std::abort();
}

std::string number(double value)
{
    std::array<char, 64> text {};
    std::snprintf(text.data(), text.size(), "%.17g", value);
    return text.data();
}

// A schedule with something of every kind the "schedule" request looks at: an alarm due now,
// a pending snooze of a task, a snooze already due, and a reminder.
std::string storedSchedule(double now)
{
    return R"([{"key":"t1/a","at":)" + number(now) + R"(,"title":"Wake","sound":"chime","mode":"alarm"},)"
        + R"({"key":"t2/b/snooze","at":)" + number(now + 120'000)
        + R"(,"title":"Later","sound":"bell","mode":"alarm","baseKey":"t2/b"},)"
        + R"({"key":"t3/snooze","at":)" + number(now - 5)
        + R"(,"title":"Gone","sound":"digital","mode":"alarm","baseKey":"t3"},)" + R"({"key":"t4","at":)"
        + number(now + 60'000) + R"(,"title":"Note","sound":"bell","mode":"reminder"}])";
}

bool isReplyScript(std::string const& script)
{
    constexpr std::string_view start = "(() => {const r=";
    constexpr std::string_view end = ";window.__brindleReply?.(r.id, r.value, r.error);})()";
    if (!script.starts_with(start) || !script.ends_with(end) || script.size() < start.size() + end.size())
        return false;
    for (std::string_view raw : { "\n", "\r", "\xE2\x80\xA8", "\xE2\x80\xA9" }) {
        if (script.find(raw) != std::string::npos)
            return false;
    }
    std::string json = script.substr(start.size(), script.size() - start.size() - end.size());
    rapidjson::Document reply;
    reply.Parse<rapidjson::kParseValidateEncodingFlag>(json.data(), json.size());
    return !reply.HasParseError() && reply.IsObject() && reply.MemberCount() == 3 && reply.HasMember("id")
        && reply["id"].IsInt64() && reply.HasMember("value") && reply.HasMember("error")
        && (reply["error"].IsNull() || reply["error"].IsString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::uint8_t const flags = data[0];
    constexpr std::array<char const*, 4> protocols { "https", "http", "HTTPS", "" };
    constexpr std::array<char const*, 4> hosts { host, "127.0.0.1", "Planner.example", "planner.example." };
    ScriptMessage message;
    message.isMainFrame = (flags & 1) != 0;
    message.protocol = protocols[(flags >> 1) & 3];
    message.host = hosts[(flags >> 3) & 3];
    message.body.assign(reinterpret_cast<char const*>(data + 1), size - 1);
    bool const trusted = message.isMainFrame && ((flags >> 1) & 3) == 0 && ((flags >> 3) & 3) == 0;

    fake::FakePlatform platform;
    platform.notificationStatus = static_cast<NotificationStatus>((flags >> 6) & 3);
    platform.authorizationGranted = (flags & 0x80) != 0;
    platform.directories.insert(storeFolder);
    platform.files[storePath] = storedSchedule(platform.nowMs());
    AppDelegate controller(platform, host);
    controller.applicationDidFinishLaunching();
    platform.deliverCompletions();
    if (flags & 0x20)
        platform.advance(1000);

    auto const alarmsBefore = controller.alarms();
    auto const activeBefore = controller.active();
    auto const storeBefore = platform.files.at(storePath);
    auto const soundsBefore = platform.sounds.size();
    auto const& scripts = platform.webViews.at(0)->evaluatedScripts;
    auto const repliesBefore = scripts.size();

    controller.didReceiveScriptMessage(message);
    platform.deliverCompletions();

    auto const replies = scripts.size() - repliesBefore;
    require(replies <= 1, "a message is answered at most once");
    require(trusted || replies == 0, "only the planner's main frame is answered");
    if (replies == 1)
        require(isReplyScript(scripts.back()), "every answer is a well-formed reply script");
    if (replies == 0) {
        require(controller.alarms() == alarmsBefore, "an unanswered message leaves the schedule");
        require(controller.active() == activeBefore, "an unanswered message leaves the ringing alarm");
        require(platform.files.at(storePath) == storeBefore, "an unanswered message leaves the store file");
        require(platform.sounds.size() == soundsBefore, "an unanswered message plays nothing");
    }
    auto const& store = platform.files.at(storePath);
    if (store != storeBefore)
        require(
            decodeAlarmsJson(store) == controller.alarms(), "the store file holds the schedule in memory");
    return 0;
}
