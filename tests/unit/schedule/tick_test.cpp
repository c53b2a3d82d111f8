#include "schedule/fired_key.h"
#include "schedule/pass.h"
#include "schedule_fixture.h"

namespace brindle::testing {
namespace {

constexpr double now0 = 1765000000000.0;

Alarm record(std::string key, double at, std::string mode = "reminder")
{
    std::string title = "Title of " + key;
    return Alarm { std::move(key), at, std::move(title), "chime", std::move(mode), std::nullopt };
}

TEST(PassPlan, DeliversExactlyTheRecordsLessThanFifteenMinutesLateAndPrunesTheRest)
{
    std::vector<Alarm> alarms { record("ahead", now0 + 1), record("now", now0), record("late", now0 - 899999),
        record("expired", now0 - 900000), record("ancient", 0), record("fraction", now0 - 0.5),
        record("ahead2", now0 + 0.5) };
    auto plan = planPass(now0, alarms, {});
    EXPECT_EQ(plan.lateLimit, now0 - 900000);
    EXPECT_EQ(plan.due, (std::vector<std::size_t> { 1, 2, 5 }));
    EXPECT_EQ(plan.dueKeys,
        (std::vector<std::string> {
            "now1765000000000.0", "late1764999100001.0", "fraction1764999999999.5" }));
    EXPECT_EQ(plan.pruneCount, 2u);
    EXPECT_TRUE(plan.saves());
}

TEST(PassPlan, SkipsKnownDeliveriesButNotTheSameKeyAtAnotherTimeNorTwinsInOnePass)
{
    FiredSet fired;
    fired.insert(firedKey(record("t1", now0 - 60000)));
    std::vector<Alarm> alarms { record("t1", now0 - 60000), record("t1", now0), record("t2", now0),
        record("t2", now0) };
    auto plan = planPass(now0, alarms, fired);
    EXPECT_EQ(plan.due, (std::vector<std::size_t> { 1, 2, 3 }));
    EXPECT_EQ(plan.dueKeys[1], plan.dueKeys[2]);

    for (auto const& key : plan.dueKeys)
        fired.insert(key);
    plan = planPass(now0 + 1000, alarms, fired);
    EXPECT_FALSE(plan.delivers());
    EXPECT_FALSE(plan.saves());
    EXPECT_EQ(plan.pruneCount, 0u);
}

using TickTest = ScheduleTest;

TEST_F(TickTest, AnAlarmExactlyDueRingsIsRememberedAndStaysInTheSchedule)
{
    load({ record("t1/a", now(), "alarm") });
    controller->tick();

    ASSERT_TRUE(controller->active());
    EXPECT_EQ(controller->active()->key, "t1/a");
    ASSERT_EQ(platform.openPanels().size(), 1u);
    EXPECT_EQ(platform.openPanels()[0]->content.label, "Title of t1/a");
    ASSERT_TRUE(platform.playingSound());
    EXPECT_EQ(platform.playingSound()->path, "/resources/chime.wav");
    EXPECT_TRUE(platform.notifications.empty());
    EXPECT_TRUE(controller->fired().contains("t1/a1765000000000.0"));
    EXPECT_EQ(storedFired(), std::vector<std::string> { "t1/a1765000000000.0" });
    EXPECT_EQ(controller->alarms().size(), 1u);
    EXPECT_EQ(storedAlarms(), std::optional(controller->alarms()));

    // The next pass finds it delivered: nothing happens and nothing is written.
    int const writes = platform.writeCount;
    platform.setNow(now() + 1000);
    controller->tick();
    EXPECT_EQ(platform.panels.size(), 1u);
    EXPECT_EQ(platform.writeCount, writes);
}

TEST_F(TickTest, EveryOtherModeIsAReminderNotification)
{
    load({ record("t1", now(), "Alarm"), record("t2", now(), ""), record("t3", now(), "alarm "),
        record("t4", now() - 1000, "notify") });
    controller->tick();
    EXPECT_FALSE(controller->active());
    EXPECT_TRUE(platform.panels.empty());
    ASSERT_EQ(platform.notifications.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        auto const& notification = platform.notifications[i];
        std::string const key = "t" + std::to_string(i + 1);
        EXPECT_EQ(notification.identifier, key);
        EXPECT_EQ(notification.title, "Brindle reminder");
        EXPECT_EQ(notification.body, "Title of " + key);
    }
}

TEST_F(TickTest, TwoIdenticalRecordsAreDeliveredOnceEachButTheKeyAtANewTimeAgain)
{
    load({ record("t1", now()), record("t1", now()) });
    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 2u);
    EXPECT_EQ(controller->fired().size(), 1u);
    EXPECT_EQ(storedFired().size(), 1u);

    platform.setNow(now() + 1000);
    controller->tick();
    restart();
    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 2u);

    // The same key moved to a new time is delivered again.
    load({ record("t1", now() - 1000), record("t1", now() + 60000) });
    platform.setNow(now() + 60000);
    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 3u);
    EXPECT_EQ(controller->fired().size(), 2u);
}

TEST_F(TickTest, ARecordAtItsLateLimitIsDroppedSilentlyWithoutASave)
{
    load({ record("expired", now() - 900000, "alarm"), record("ahead", now() + 1) });
    int const writes = platform.writeCount;
    controller->tick();
    EXPECT_TRUE(platform.panels.empty());
    EXPECT_TRUE(platform.notifications.empty());
    EXPECT_EQ(controller->alarms(), std::vector<Alarm> { record("ahead", now() + 1) });
    EXPECT_EQ(platform.writeCount, writes);
    EXPECT_EQ(controller->fired().size(), 0u);
}

TEST_F(TickTest, ADeliverySavesTheListAfterPruningAndSettlesTheActivity)
{
    load({ record("expired", now() - 900000), record("t1", now() - 899999), record("t2", now() + 60000) });
    controller->save();
    ASSERT_TRUE(controller->hasActivity());

    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(storedAlarms(),
        std::optional(std::vector<Alarm> { record("t1", now() - 899999), record("t2", now() + 60000) }));
    EXPECT_TRUE(controller->hasActivity());

    // Delivering the last record ahead gives the activity up.
    platform.setNow(now() + 60000);
    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 2u);
    EXPECT_FALSE(controller->hasActivity());
    EXPECT_EQ(platform.liveActivities(), 0);
}

} // namespace
} // namespace brindle::testing
