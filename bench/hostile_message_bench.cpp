// What the page's largest and deepest messages cost Brindle on the main thread: a 50 MB
// schedule taken in and stored whole, and a body nested a hundred thousand levels deep.

#include "app/brindle_app.h"
#include "platform/fake/fake_platform.h"

#include <benchmark/benchmark.h>
#include <string>

namespace brindle {
namespace {

constexpr double benchNow = 1765000000000.0;

ScriptMessage fromThePlanner(std::string body)
{
    return { true, "https", "localhost", std::move(body) };
}

// 100,000 alarms with titles of 460 characters: about 55 MB of envelope.
std::string largeSchedule()
{
    std::string const title(460, 'x');
    std::string body = R"({"id":1,"method":"schedule","data":{"taskIds":[],"alarms":[)";
    body.reserve(56'000'000);
    for (int i = 0; i < 100'000; ++i) {
        if (i)
            body += ',';
        body += R"({"key":"t)" + std::to_string(i) + R"(/main","at":)" + std::to_string(1766000000000 + i)
            + R"(,"title":")" + title + R"(","sound":"bell","mode":"alarm"})";
    }
    body += "]}}";
    return body;
}

void fiftyMegabyteSchedule(benchmark::State& state)
{
    fake::FakePlatform platform;
    platform.setNow(benchNow);
    BrindleApp controller(platform, AppSettings { "localhost", "", "Brindle" });
    controller.launch(ApplicationDelegate::LaunchMode::withWindow);
    auto const message = fromThePlanner(largeSchedule());
    for (auto _ : state)
        controller.pageBridge()->handleMessage(message);
    if (controller.schedule().alarms().size() != 100'000
        || platform.webViews.front()->evaluatedScripts.empty())
        state.SkipWithError("the schedule was not taken");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.body.size()));
    state.counters["envelope_bytes"] = static_cast<double>(message.body.size());
    state.counters["store_bytes"]
        = static_cast<double>(platform.files["/home/test/.local/share/Brindle/alarms.json"].size());
}
BENCHMARK(fiftyMegabyteSchedule)->Unit(benchmark::kMillisecond)->Iterations(3);

// Nesting inside a member Brindle does not read: the schedule is taken all the same.
void deeplyNestedBody(benchmark::State& state)
{
    fake::FakePlatform platform;
    platform.setNow(benchNow);
    BrindleApp controller(platform, AppSettings { "localhost", "", "Brindle" });
    controller.launch(ApplicationDelegate::LaunchMode::withWindow);
    constexpr int depth = 100'000;
    auto const message
        = fromThePlanner(R"({"id":1,"method":"schedule","data":{"taskIds":[],"alarms":[{"key":"k",)"
                         R"("at":1766000000000,"title":"t","sound":"bell","mode":"alarm","extra":)"
            + std::string(depth, '[') + std::string(depth, ']') + "}]}}");
    for (auto _ : state)
        controller.pageBridge()->handleMessage(message);
    if (controller.schedule().alarms().size() != 1)
        state.SkipWithError("the schedule was not taken");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.body.size()));
}
BENCHMARK(deeplyNestedBody)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace brindle
