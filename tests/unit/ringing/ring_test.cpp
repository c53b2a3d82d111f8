#include "ringing_fixture.h"

namespace brindle::testing {

namespace {

class AlarmRing : public RingingTest { };

TEST_F(AlarmRing, ShowsThePanelAndLoopsTheSoundOfTheLastOfTwoAlarmsInOnePass)
{
    double now = platform.nowMs();
    launchWith({ alarm("first", now, "First", "chime"), alarm("second", now, "Second", "digital") });
    int activationsAtLaunch = platform.activations;
    platform.advance(1000);

    ASSERT_EQ(platform.panels.size(), 2u);
    auto panel = openPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->content.windowTitle, "Brindle alarm");
    EXPECT_EQ(panel->content.label, "Second");
    EXPECT_EQ(panel->content.labelPointSize, 23.0);
    EXPECT_EQ(panel->content.stopTitle, "Stop alarm");
    EXPECT_EQ(panel->content.snoozeTitle, "Snooze 5 minutes");
    EXPECT_GT(platform.activations, activationsAtLaunch);

    ASSERT_EQ(platform.sounds.size(), 2u);
    EXPECT_TRUE(platform.sounds[0]->stopped);
    EXPECT_FALSE(platform.sounds[0]->playing);
    EXPECT_EQ(platform.playingSound(), platform.sounds[1]);
    EXPECT_EQ(platform.sounds[1]->path, resource("digital"));
    EXPECT_TRUE(platform.sounds[1]->looping);

    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "second");

    // The replaced panel may still be pressed (its window can linger on a slow desktop); it acts
    // on whatever rings now, never on the alarm it was made for.
    auto stalePanel = platform.panels.front();
    stalePanel->content.onSnooze();
    std::vector<std::string> keys;
    for (auto const& scheduled : controller.alarms())
        keys.push_back(scheduled.key);
    EXPECT_EQ(keys, (std::vector<std::string> { "first", "second", "second/snooze" }));
    EXPECT_FALSE(controller.active());
    EXPECT_TRUE(platform.openPanels().empty());

    // With nothing ringing any more, its buttons only stop.
    int writes = platform.writeCount;
    stalePanel->content.onSnooze();
    stalePanel->content.onStop();
    EXPECT_EQ(platform.writeCount, writes);
    EXPECT_EQ(controller.alarms().size(), 3u);
}

TEST_F(AlarmRing, StopSilencesAndClosesAndALaterAlarmRingsAfresh)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("first", now, "First", "chime"), alarm("later", now + 60'000, "Later", "digital") });
    int writes = platform.writeCount;

    openPanel()->content.onStop();

    EXPECT_FALSE(controller.active());
    EXPECT_FALSE(controller.hasPlayer());
    EXPECT_FALSE(controller.hasAlarmPanel());
    EXPECT_TRUE(platform.openPanels().empty());
    EXPECT_FALSE(platform.playingSound());
    EXPECT_TRUE(platform.sounds.back()->stopped);
    // Stopping changes nothing that is stored.
    EXPECT_EQ(platform.writeCount, writes);
    EXPECT_EQ(controller.alarms().size(), 2u);

    // Stopping twice does no harm.
    controller.stopAlarm();
    EXPECT_FALSE(controller.active());

    platform.advance(60'000);
    auto panel = openPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->content.label, "Later");
    EXPECT_EQ(platform.playingSound()->path, resource("digital"));
    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "later");
}

class AlarmSafetyTimer : public RingingTest { };

TEST_F(AlarmSafetyTimer, StopsAnUnansweredAlarmAfterTenMinutes)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("t1", now, "Unanswered") });
    int writes = platform.writeCount;

    platform.advance(599'000);
    EXPECT_TRUE(controller.active());
    EXPECT_TRUE(openPanel());

    platform.advance(1'000);
    EXPECT_FALSE(controller.active());
    EXPECT_FALSE(controller.hasPlayer());
    EXPECT_TRUE(platform.openPanels().empty());
    EXPECT_FALSE(platform.playingSound());
    // It stops; it does not snooze.
    ASSERT_EQ(controller.alarms().size(), 1u);
    EXPECT_EQ(controller.alarms().front().key, "t1");
    EXPECT_EQ(platform.writeCount, writes);
}

// Each ring arms ten minutes of its own, whether the ring before was replaced or stopped.
TEST_F(AlarmSafetyTimer, CountsFromTheLatestRing)
{
    double const start = platform.nowMs();
    auto advanceTo = [&](double ms) { platform.advance(start + ms - platform.nowMs()); };
    ringAtLaunch({ alarm("early", start, "Early"), alarm("late", start + 300'000, "Late"),
        alarm("stopped", start + 1'000'000, "Stopped"), alarm("fresh", start + 1'200'000, "Fresh") });
    advanceTo(301'000);
    ASSERT_EQ(controller.active()->key, "late");
    advanceTo(611'000);
    EXPECT_TRUE(controller.active()) << "the first ring's ten minutes are over, not the second's";
    advanceTo(911'000);
    EXPECT_FALSE(controller.active());
    EXPECT_TRUE(platform.openPanels().empty());

    advanceTo(1'001'000);
    ASSERT_EQ(controller.active()->key, "stopped");
    openPanel()->content.onStop();
    advanceTo(1'201'000);
    ASSERT_EQ(controller.active()->key, "fresh");
    advanceTo(1'700'000);
    EXPECT_TRUE(controller.active()) << "the stopped ring's timer did not survive the stop";
    advanceTo(1'802'000);
    EXPECT_FALSE(controller.active());
}

} // namespace

} // namespace brindle::testing
