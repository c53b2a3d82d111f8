#include "ringing_fixture.h"

namespace brindle::testing {

namespace {

class AlarmRing : public RingingTest { };

TEST_F(AlarmRing, ShowsTheFloatingPanelAndLoopsTheSound)
{
    launchWith({ alarm("t1/main", platform.nowMs(), "Call the dentist", "chime") });
    int activationsAtLaunch = platform.activations;
    platform.advance(1000);

    auto panel = openPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->content.windowTitle, "Brindle alarm");
    EXPECT_EQ(panel->content.label, "Call the dentist");
    EXPECT_EQ(panel->content.labelPointSize, 23.0);
    EXPECT_EQ(panel->content.stopTitle, "Stop alarm");
    EXPECT_EQ(panel->content.snoozeTitle, "Snooze 5 minutes");

    auto sound = platform.playingSound();
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->path, resource("chime"));
    EXPECT_TRUE(sound->looping);

    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "t1/main");
    EXPECT_EQ(platform.activations, activationsAtLaunch + 1);
}

TEST_F(AlarmRing, TheLastOfTwoAlarmsInOnePassIsTheOneLeftRinging)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("first", now, "First", "chime"), alarm("second", now, "Second", "digital") });

    ASSERT_EQ(platform.panels.size(), 2u);
    auto panel = openPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->content.label, "Second");

    ASSERT_EQ(platform.sounds.size(), 2u);
    EXPECT_TRUE(platform.sounds[0]->stopped);
    EXPECT_FALSE(platform.sounds[0]->playing);
    EXPECT_EQ(platform.playingSound(), platform.sounds[1]);
    EXPECT_EQ(platform.sounds[1]->path, resource("digital"));
    EXPECT_TRUE(platform.sounds[1]->looping);

    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "second");

    // Snoozing now snoozes the second alarm only.
    panel->content.onSnooze();
    ASSERT_EQ(controller.alarms().size(), 3u);
    EXPECT_EQ(controller.alarms().back().key, "second/snooze");
}

// A panel that a newer ring replaced may still be pressed (its window can linger on a slow
// desktop). It acts on whatever rings now, never on the alarm it was made for.
TEST_F(AlarmRing, AReplacedPanelsButtonsActOnTheCurrentAlarm)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("first", now, "First"), alarm("second", now, "Second") });
    auto stalePanel = platform.panels.front();

    stalePanel->content.onSnooze();

    std::vector<std::string> keys;
    for (auto const& scheduled : controller.alarms())
        keys.push_back(scheduled.key);
    EXPECT_EQ(keys, (std::vector<std::string> { "first", "second", "second/snooze" }));
    EXPECT_FALSE(controller.active());
    EXPECT_TRUE(platform.openPanels().empty());

    // With nothing ringing any more, the stale stop button only stops.
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

TEST_F(AlarmSafetyTimer, CountsFromTheLatestRing)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("early", now, "Early"), alarm("late", now + 300'000, "Late") });

    platform.advance(300'000);
    ASSERT_TRUE(controller.active());
    ASSERT_EQ(controller.active()->key, "late");

    // The first ring's ten minutes are over, but the second ring started ten minutes of its own.
    platform.advance(310'000);
    EXPECT_TRUE(controller.active());
    EXPECT_TRUE(openPanel());

    platform.advance(300'000);
    EXPECT_FALSE(controller.active());
    EXPECT_TRUE(platform.openPanels().empty());
}

TEST_F(AlarmSafetyTimer, ARingAfterAStopArmsAFreshTimer)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("first", now, "First"), alarm("second", now + 500'000, "Second") });
    openPanel()->content.onStop();

    platform.advance(500'000);
    ASSERT_TRUE(controller.active());
    // The first ring's timer, had it survived the stop, would fire here.
    platform.advance(200'000);
    EXPECT_TRUE(controller.active());
    platform.advance(400'000);
    EXPECT_FALSE(controller.active());
}

// The quit question must not have the alarm stopped behind it; the stop comes once it closes.
TEST_F(AlarmSafetyTimer, WaitsForAModalQuestionToClose)
{
    double now = platform.nowMs();
    ringAtLaunch({ alarm("now", now, "Now"), alarm("tomorrow", now + 86'400'000, "Tomorrow") });

    bool ringingWhileAsked = false;
    platform.answerAlert = [&](AlertQuestion const&) {
        platform.advance(700'000);
        ringingWhileAsked = controller.active().has_value() && !platform.openPanels().empty();
        return alertFirstButtonReturn;
    };
    EXPECT_FALSE(controller.applicationShouldTerminate());

    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_TRUE(ringingWhileAsked);
    EXPECT_FALSE(controller.active());
    EXPECT_TRUE(platform.openPanels().empty());
    EXPECT_FALSE(platform.playingSound());
}

} // namespace

} // namespace brindle::testing
