#include "schedule/fired_key.h"
#include "schedule/pass.h"
#include "schedule/user_defaults.h"
#include "schedule_fixture.h"

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace brindle::testing {
namespace {

// Every record carries its own fired key as its title, so each notification and each alarm
// panel says which delivery it is.
constexpr std::string_view titlePrefix = "delivery of ";

class DeliveryProperty : public ::testing::Test {
protected:
    fake::FakePlatform fake;
    double nextTick = 0;
    std::optional<AppDelegate> controller;
    std::mt19937_64 random { 0xB41D1E };

    // What the passes saw and did.
    std::set<std::string> window;
    std::set<std::string> seenInWindow;
    std::map<std::string, int> deliveries;
    std::size_t notificationsSeen = 0;
    std::size_t panelsSeen = 0;
    int outOfWindow = 0;
    int passes = 0;
    int requestId = 0;

    // Runs a scheduler pass the way the tick timer or a wake does, with a look at the schedule
    // just before and just after it.
    void pass(std::function<void()> const& run)
    {
        ++passes;
        double now = fake.nowMs();
        window.clear();
        for (auto const& alarm : controller->alarms()) {
            if (now - lateLimitMs < alarm.at && alarm.at <= now)
                window.insert(firedKey(alarm));
        }
        seenInWindow.insert(window.begin(), window.end());
        run();
        for (; notificationsSeen < fake.notifications.size(); ++notificationsSeen)
            delivered(fake.notifications[notificationsSeen].body);
        for (; panelsSeen < fake.panels.size(); ++panelsSeen)
            delivered(fake.panels[panelsSeen]->content.label);
    }

    void tick()
    {
        pass([this] { controller->tick(); });
    }

    // Moves the clock, with a pass at every beat of the one-second tick on the way.
    void advance(double ms)
    {
        double const target = fake.nowMs() + ms;
        for (; nextTick <= target; nextTick += 1000) {
            fake.setNow(nextTick);
            tick();
        }
        fake.setNow(target);
    }

    void delivered(std::string const& title)
    {
        ASSERT_TRUE(title.starts_with(titlePrefix)) << title;
        auto key = title.substr(titlePrefix.size());
        ++deliveries[key];
        if (!window.contains(key))
            ++outOfWindow;
    }

    double uniform(double low, double high)
    {
        return std::uniform_real_distribution<double>(low, high)(random);
    }
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }

    void launch()
    {
        controller.reset();
        controller.emplace(fake, "localhost");
        controller->applicationDidFinishLaunching();
        nextTick = fake.nowMs() + 1000;
    }

    // A schedule from the page: keys and times drawn from small sets, so that later schedules
    // bring back deliveries already made and the same key at new times.
    void sendSchedule()
    {
        static constexpr std::array modes { "alarm", "reminder", "Alarm", "" };
        double const now = fake.nowMs();
        std::vector<Alarm> alarms;
        std::set<std::string> keys;
        int const count = pick(24);
        for (int i = 0; i < count; ++i) {
            std::string key = "t" + std::to_string(pick(12)) + (pick(2) ? "/a" : "");
            double at = std::floor(uniform(now - 1'200'000, now + 2'400'000) / 15000) * 15000;
            if (pick(4) == 0)
                at += 0.5;
            Alarm alarm { key, at, "", "bell", modes[static_cast<std::size_t>(pick(modes.size()))],
                std::nullopt };
            alarm.title = std::string(titlePrefix) + firedKey(alarm);
            // Twins in one schedule are delivered twice by design; they are tested elsewhere.
            if (keys.insert(firedKey(alarm)).second)
                alarms.push_back(std::move(alarm));
        }
        std::string body = R"({"id":)" + std::to_string(++requestId)
            + R"(,"method":"schedule","data":{"alarms":)" + encodeAlarmsJson(alarms) + R"(,"taskIds":[]}})";
        fake.webViews.back()->config.onScriptMessage(ScriptMessage { true, "https", "localhost", body });
        ASSERT_EQ(controller->alarms(), alarms);
    }
};

TEST_F(DeliveryProperty, EveryRecordSeenInItsWindowIsDeliveredOnceAndNothingElseIs)
{
    launch();
    int restarts = 0;
    int sleeps = 0;
    for (int step = 0; step < 4000; ++step) {
        int const choice = pick(100);
        if (choice < 12) {
            sendSchedule();
        } else if (choice < 15) {
            launch();
            ++restarts;
        } else if (choice < 25) {
            // Asleep: the timer does not run; on waking either the overdue timer or the wake
            // handler comes first, and the other may follow.
            fake.setNow(fake.nowMs() + std::floor(uniform(1000, 1'800'000)));
            if (pick(2))
                tick();
            pass(fake.wakeAction);
            nextTick = fake.nowMs() + 1000;
            ++sleeps;
        } else if (choice < 30) {
            if (auto panels = fake.openPanels(); !panels.empty())
                panels.front()->content.onStop();
        } else {
            advance(pick(3) ? uniform(1, 5000) : uniform(5000, 120000));
        }
    }

    EXPECT_EQ(outOfWindow, 0);
    for (auto const& key : seenInWindow)
        EXPECT_EQ(deliveries[key], 1) << key;
    for (auto const& [key, count] : deliveries)
        EXPECT_TRUE(seenInWindow.contains(key)) << key;

    // The run reached what it is meant to cover: more deliveries than the stored fired list
    // holds, restarts and sleeps.
    EXPECT_GT(seenInWindow.size(), storedFiredLimit);
    EXPECT_GT(restarts, 50);
    EXPECT_GT(sleeps, 200);
    EXPECT_GT(passes, 10000);
}

} // namespace
} // namespace brindle::testing
