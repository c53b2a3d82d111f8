// The scheduler's costs: one pass over schedules of growing size next to a bare loop that only
// reads every time (the least any pass can do), and the store file's encoding and decoding.

#include "app/brindle_app.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"
#include "schedule/pass.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace brindle {
namespace {

constexpr double benchNow = 1765000000000.0;

// A schedule as the planner makes it: task keys, titles of everyday length, one alarm in four
// a snooze or at a fractional time. Every record lies ahead unless `ahead` is false.
std::vector<Alarm> makeSchedule(std::size_t count, bool ahead = true)
{
    static constexpr char const* titles[] = { "Water the plants in the office",
        "Stand-up with the design team", "Take the 17:42 train home", "Call the dentist about Thursday" };
    static constexpr char const* sounds[] = { "bell", "chime", "digital" };
    std::vector<Alarm> alarms;
    alarms.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Alarm alarm;
        alarm.key = "task-" + std::to_string(100000 + i / 3) + "/alarm-" + std::to_string(i % 3);
        alarm.at = benchNow + (ahead ? 60000.0 : -3600000.0) + static_cast<double>(i) * 1000.0;
        if (i % 4 == 1)
            alarm.at += 0.5;
        alarm.title = titles[i % 4];
        alarm.sound = sounds[i % 3];
        alarm.mode = i % 2 ? "alarm" : "reminder";
        if (i % 4 == 3) {
            alarm.baseKey = alarm.key;
            alarm.key += "/snooze";
        }
        alarms.push_back(std::move(alarm));
    }
    return alarms;
}

void bareLoop(benchmark::State& state)
{
    auto alarms = makeSchedule(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        double sum = 0;
        for (auto const& alarm : alarms)
            sum += alarm.at;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(bareLoop)->Arg(1000)->Arg(10000)->Arg(100000);

// The decision alone, in the common case: nothing due, nothing to prune.
void passPlan(benchmark::State& state)
{
    auto alarms = makeSchedule(static_cast<std::size_t>(state.range(0)));
    FiredSet fired;
    for (auto _ : state) {
        auto plan = planPass(benchNow, alarms, fired);
        benchmark::DoNotOptimize(plan);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(passPlan)->Arg(1000)->Arg(10000)->Arg(100000);

// A whole tick of the controller over the same schedule, clock reading included.
void tick(benchmark::State& state)
{
    fake::FakePlatform platform;
    platform.setNow(benchNow);
    platform.files["/home/test/.local/share/Brindle/alarms.json"]
        = encodeAlarmsJson(makeSchedule(static_cast<std::size_t>(state.range(0))));
    BrindleApp controller(platform, AppSettings { "localhost", "", "Brindle" });
    controller.schedule().load();
    if (controller.schedule().alarms().size() != static_cast<std::size_t>(state.range(0)))
        state.SkipWithError("the schedule did not load");
    for (auto _ : state)
        controller.tick();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(tick)->Arg(1000)->Arg(10000)->Arg(100000);

void encodeStore(benchmark::State& state)
{
    auto alarms = makeSchedule(10000);
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto text = encodeAlarmsJson(alarms);
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(encodeStore);

void decodeStore(benchmark::State& state)
{
    auto text = encodeAlarmsJson(makeSchedule(10000));
    if (auto alarms = decodeAlarmsJson(text); !alarms || alarms->size() != 10000)
        state.SkipWithError("the store did not decode");
    for (auto _ : state) {
        auto alarms = decodeAlarmsJson(text);
        benchmark::DoNotOptimize(alarms);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(decodeStore);

} // namespace
} // namespace brindle
