#include "schedule/fired_key.h"
#include "schedule/pass.h"
#include "unit/fixture.h"

#include <cmath>
#include <map>
#include <random>
#include <set>

namespace brindle::testing {

using Tick = BrindleTest;

// Twins are both delivered; only the alarm mode rings; the fired list outlives a restart.
TEST_F(Tick, DeliversEachRecordInItsWindowOnceAndDropsLateOnesUnheard)
{
    double const t = now();
    launch({ alarm("ahead", t + 1, "reminder"), alarm("now", t, "Alarm"), alarm("late", t - 899999, ""),
        alarm("expired", t - 900000, "alarm"), alarm("fraction", t - 0.5, "alarm "),
        alarm("twin", t, "reminder"), alarm("twin", t, "reminder"), alarm("ring", t, "alarm", "chime") });
    EXPECT_TRUE(controller->wakeUp().holdsActivity());
    controller->tick();
    EXPECT_EQ(notified(), (std::vector<std::string> { "now", "late", "fraction", "twin", "twin" }));
    EXPECT_EQ(platform.notifications[0].title, "Brindle reminder");
    EXPECT_EQ(platform.notifications[0].body, "Title of now");
    EXPECT_EQ(ringing(), "ring");
    EXPECT_EQ(
        keys(), (std::vector<std::string> { "ahead", "now", "late", "fraction", "twin", "twin", "ring" }));
    EXPECT_EQ(stored(), controller->schedule().alarms());
    EXPECT_EQ(storedFired(),
        (std::vector<std::string> { "now1765000000000.0", "late1764999100001.0", "fraction1764999999999.5",
            "twin1765000000000.0", "ring1765000000000.0" }));

    restart();
    platform.setNow(t + second);
    controller->tick();
    EXPECT_EQ(notified(), (std::vector<std::string> { "now", "late", "fraction", "twin", "twin", "ahead" }));
    EXPECT_FALSE(controller->wakeUp().holdsActivity()) << "nothing lies ahead any more";

    // Out of their window: dropped in memory, the store left as it was.
    int const writes = platform.writeCount;
    platform.setNow(t + 20 * minute);
    controller->tick();
    EXPECT_TRUE(controller->schedule().alarms().empty());
    EXPECT_EQ(platform.writeCount, writes);
    EXPECT_EQ(platform.panels.size(), 1u);

    platform.files[storePath] = encodeAlarmsJson({ alarm("twin", now() + minute, "reminder") });
    controller->schedule().load();
    platform.setNow(now() + minute);
    platform.wakeAction();
    EXPECT_EQ(platform.notifications.size(), 7u);
}

TEST_F(Tick, TheStoredFiredListKeepsTheMostRecentDeliveries)
{
    std::vector<std::string> old;
    for (int i = 0; i < 1100; ++i)
        old.push_back("old" + std::to_string(i) + ".0");
    platform.files[defaultsPath] = writeFiredDefaults(R"({"window":{"x":10}})", old);
    double const t = now();
    launch({ alarm("a", t, "reminder"), alarm("b", t + second, "reminder"),
        alarm("c", t + 2 * second, "reminder") });
    platform.advance(second);
    restart();
    platform.advance(second);
    platform.advance(second);
    std::vector<std::string> expected(old.begin() + 79, old.end());
    for (auto [key, at] : { std::pair { "a", t }, { "b", t + second }, { "c", t + 2 * second } })
        expected.push_back(firedKey(alarm(key, at)));
    EXPECT_EQ(storedFired(), expected);
    EXPECT_TRUE(platform.files[defaultsPath].starts_with(R"({"window":{"x":10},"fired":)"));
}

// Each record seen in its window is delivered once and nothing else is; a title is its fired key.
TEST_F(Tick, EveryRecordSeenInItsWindowIsDeliveredOnceAndNothingElseIs)
{
    std::mt19937_64 random { 0xB41D1E };
    auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
    std::set<std::string> window, seen;
    std::map<std::string, int> deliveries;
    std::size_t notifications = 0, panels = 0;
    int outOfWindow = 0;
    auto heard = [&](std::string const& key) {
        ++deliveries[key];
        outOfWindow += !window.contains(key);
    };
    auto pass = [&](std::function<void()> const& run) {
        window.clear();
        for (auto const& scheduled : controller->schedule().alarms()) {
            if (now() - lateLimitMs < scheduled.at && scheduled.at <= now())
                window.insert(firedKey(scheduled));
        }
        seen.insert(window.begin(), window.end());
        run();
        for (; notifications < platform.notifications.size(); ++notifications)
            heard(platform.notifications[notifications].body);
        for (; panels < platform.panels.size(); ++panels)
            heard(platform.panels[panels]->content.label);
    };
    launch();
    for (int step = 0; step < 4000; ++step) {
        int const choice = pick(100);
        if (choice < 12) {
            std::vector<Alarm> alarms;
            std::set<std::string> twins;
            for (int i = pick(24); i > 0; --i) {
                double at
                    = std::floor((now() + pick(3'600'000) - 1'200'000) / 15000) * 15000 + (pick(4) ? 0 : 0.5);
                Alarm next { "t" + std::to_string(pick(12)) + (pick(2) ? "/a" : ""), at, "", "bell",
                    pick(2) ? "alarm" : "reminder", std::nullopt };
                next.title = firedKey(next);
                if (twins.insert(next.title).second)
                    alarms.push_back(next);
            }
            schedule(alarms);
        } else if (choice < 15) {
            restart();
        } else if (choice < 25) {
            platform.setNow(now() + 1000 + pick(1'800'000));
            if (pick(2))
                pass([&] { controller->tick(); });
            pass(platform.wakeAction);
        } else if (choice < 30 && panel()) {
            panel()->content.onStop();
        } else {
            for (int beats = pick(3) ? 1 + pick(5) : 5 + pick(115); beats > 0; --beats) {
                platform.setNow(now() + 1000);
                pass([&] { controller->tick(); });
            }
        }
    }
    EXPECT_EQ(outOfWindow, 0);
    for (auto const& key : seen)
        EXPECT_EQ(deliveries[key], 1) << key;
    EXPECT_GT(seen.size(), storedFiredLimit) << "more deliveries than the stored list holds";
}

} // namespace brindle::testing
