// Feeds arbitrary page messages (the first byte picks frame, origin and a ringing alarm) to a
// launched controller: only the planner's main frame is answered, at most once, with a reply
// script; an unanswered message changes nothing; the store holds the schedule.

#include "app/brindle_app.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"
#include "support/reply_script.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace brindle;

constexpr char const* host = "planner.example";
constexpr char const* storeFolder = "/home/test/.local/share/Brindle";
constexpr char const* storePath = "/home/test/.local/share/Brindle/alarms.json";

void require(bool holds, char const* promise)
{
    if (!holds)
        std::fprintf(stderr, "bridge promise broken: %s\n", promise), std::abort();
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
    platform.notificationsAllowed = (flags & 0x40) != 0;

    platform.directories.insert(storeFolder);
    // Something of every kind the schedule request looks at: an alarm due now, a pending snooze
    // of a task, a snooze already due and a reminder.
    double const now = platform.nowMs();
    platform.files[storePath] = encodeAlarmsJson({ { "t1/a", now, "Wake", "chime", "alarm", std::nullopt },
        { "t2/b/snooze", now + 120'000, "Later", "bell", "alarm", "t2/b" },
        { "t3/snooze", now - 5, "Gone", "digital", "alarm", "t3" },
        { "t4", now + 60'000, "Note", "bell", "reminder", std::nullopt } });
    BrindleApp controller(platform, AppSettings { host, "", "Brindle" });
    controller.launch(ApplicationDelegate::LaunchMode::withWindow);
    platform.deliverCompletions();
    if (flags & 0x20)
        platform.advance(1000);

    auto const alarmsBefore = controller.schedule().alarms();
    auto const activeBefore = controller.ringer().ringing();
    auto const storeBefore = platform.files.at(storePath);
    auto const soundsBefore = platform.sounds.size();
    auto const& scripts = platform.webViews.at(0)->evaluatedScripts;
    auto const repliesBefore = scripts.size();

    controller.pageBridge()->handleMessage(message);
    platform.deliverCompletions();

    auto const replies = scripts.size() - repliesBefore;
    require(replies <= 1, "a message is answered at most once");
    require(trusted || replies == 0, "only the planner's main frame is answered");
    if (replies == 1)
        require(testing::parseReply(scripts.back()).has_value(), "every answer is a reply script");
    if (replies == 0) {
        require(controller.schedule().alarms() == alarmsBefore, "an unanswered message leaves the schedule");
        require(
            controller.ringer().ringing() == activeBefore, "an unanswered message leaves the ringing alarm");
        require(platform.files.at(storePath) == storeBefore, "an unanswered message leaves the store file");
        require(platform.sounds.size() == soundsBefore, "an unanswered message plays nothing");
    }
    auto const& store = platform.files.at(storePath);
    if (store != storeBefore)
        require(decodeAlarmsJson(store) == controller.schedule().alarms(),
            "the store file holds the schedule in memory");
    return 0;
}
