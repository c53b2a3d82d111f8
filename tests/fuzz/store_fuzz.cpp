// Feeds arbitrary bytes as the store and defaults files (split at the first 0xFF byte): Brindle
// starts, writes both after a delivery, and a second launch reads back what the first one held.

#include "app/brindle_app.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"
#include "schedule/fired_key.h"
#include "schedule/fired_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace brindle;

static void require(bool holds, char const* promise)
{
    if (!holds)
        std::fprintf(stderr, "store promise broken: %s\n", promise), std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    std::string_view const bytes(reinterpret_cast<char const*>(data), size);
    auto const split = std::min(bytes.find('\xFF'), bytes.size());
    std::string const storePath = "/home/test/.local/share/Brindle/alarms.json";
    std::string const defaultsPath = "/home/test/.config/Brindle/defaults.json";
    fake::FakePlatform platform;
    platform.files[storePath] = bytes.substr(0, split);
    if (split < bytes.size())
        platform.files[defaultsPath] = bytes.substr(split + 1);

    BrindleApp first(platform, AppSettings { "planner.example", "", "Brindle" });
    first.launch(ApplicationDelegate::LaunchMode::withWindow);
    auto const schedule = first.schedule().alarms();
    auto const written = encodeAlarmsJson(schedule);
    require(!written.empty(), "a schedule that was read can be written");

    // One alarm due now makes the next tick write the fired keys and the schedule.
    auto const body = R"({"id":1,"method":"schedule","data":{"alarms":)"
        + written.substr(0, written.size() - 1) + (schedule.empty() ? "" : ",") + R"({"key":"due","at":)"
        + std::to_string(platform.nowMs()) + R"(,"title":"t","sound":"bell","mode":"alarm"}]}})";
    platform.webViews.at(0)->config.onScriptMessage({ true, "https", "planner.example", body });
    require(first.schedule().alarms().size() == schedule.size() + 1,
        "the schedule request takes what the store held");
    if (first.schedule().fired().contains(firedKey(first.schedule().alarms().back())))
        return 0; // the defaults already hold this delivery, so nothing would be written
    platform.advance(1000);

    auto const stored = readFiredDefaults(platform.files[defaultsPath]);
    require(
        stored == first.schedule().fired().mostRecent(storedFiredLimit), "the defaults hold the fired keys");
    require(decodeAlarmsJson(platform.files[storePath]) == first.schedule().alarms(),
        "the store holds the schedule");

    BrindleApp second(platform, AppSettings { "planner.example", "", "Brindle" });
    second.launch(ApplicationDelegate::LaunchMode::withWindow);
    require(second.schedule().alarms() == first.schedule().alarms(), "a relaunch reads the same schedule");
    for (auto const& key : *stored)
        require(second.schedule().fired().contains(key), "a relaunch remembers every stored delivery");
    return 0;
}
