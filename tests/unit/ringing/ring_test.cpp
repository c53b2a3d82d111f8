#include "unit/fixture.h"

namespace brindle::testing {

using Ring = BrindleTest;

// The replaced panel's buttons act on whatever rings when pressed.
TEST_F(Ring, TheLastDueAlarmRingsAndSnoozeMovesItFiveMinutesFromThePress)
{
    double const t = now();
    launch({ alarm("first", t, "alarm", "chime"), alarm("second", t, "alarm", "foghorn") });
    platform.advance(second);
    EXPECT_EQ(ringing(), "second");
    ASSERT_TRUE(panel());
    ASSERT_EQ(platform.sounds.size(), 2u);
    EXPECT_TRUE(platform.sounds[0]->stopped);
    EXPECT_EQ(playing(), "/resources/bell.wav");
    EXPECT_TRUE(platform.playingSound()->looping);
    EXPECT_EQ(platform.liveScreenWakes(), 1) << "one for both rings";

    auto stale = platform.panels.front();
    platform.advance(42 * second);
    stale->content.onSnooze();
    Alarm snooze { "second/snooze", t + 43 * second + 5 * minute, "Title of second", "foghorn", "alarm",
        "second" };
    EXPECT_EQ(controller->schedule().alarms().back(), snooze);
    EXPECT_EQ(ringing(), "");
    EXPECT_EQ(platform.liveScreenWakes(), 0);

    platform.advance(5 * minute);
    EXPECT_EQ(ringing(), "second/snooze");
    panel()->content.onSnooze();
    snooze.at = now() + 5 * minute;
    EXPECT_EQ(controller->schedule().alarms(),
        (std::vector<Alarm> {
            alarm("first", t, "alarm", "chime"), alarm("second", t, "alarm", "foghorn"), snooze }));

    // With nothing ringing, a stale panel's buttons only stop.
    int const writes = platform.writeCount;
    stale->content.onSnooze();
    EXPECT_EQ(platform.writeCount, writes);
}

TEST_F(Ring, StopEndsTheRingAndTheSafetyTimerStopsAnUnansweredAlarm)
{
    double const t = now();
    launch({ alarm("t1", t), alarm("t2", t + 2 * minute) });
    platform.advance(second);
    panel()->content.onStop();
    EXPECT_EQ(ringing(), "");
    EXPECT_TRUE(platform.openPanels().empty());
    EXPECT_TRUE(platform.sounds[0]->stopped);
    int const writes = platform.writeCount;
    controller->ringer().snooze();
    EXPECT_EQ(keys(), (std::vector<std::string> { "t1", "t2" }));
    EXPECT_EQ(platform.writeCount, writes);

    platform.advance(2 * minute - second + 599 * second);
    EXPECT_EQ(ringing(), "t2");
    platform.advance(second);
    EXPECT_TRUE(ringing().empty() && platform.openPanels().empty() && playing().empty());
    EXPECT_EQ(platform.liveScreenWakes(), 0);
    EXPECT_EQ(keys(), (std::vector<std::string> { "t1", "t2" })) << "it stops; it does not snooze";
}

TEST_F(Ring, PlaysShippedSoundsByExactNameAndTheBellForAnyOther)
{
    AlarmSound sound(platform, platform);
    for (auto [name, file] : { std::pair { "bell", "bell" }, { "chime", "chime" }, { "digital", "digital" },
             { "Bell", "bell" }, { "", "bell" }, { "digital ", "bell" } }) {
        sound.play(name, false, "Test");
        EXPECT_EQ(playing(), "/resources/" + std::string(file) + ".wav") << name;
    }
    // Without the file of the sound asked for, what plays goes on playing.
    sound.play("chime", true, "Test");
    platform.resources.erase("bell");
    for (auto name : { "bell", "unknown" })
        sound.play(name, false, "Test");
    EXPECT_EQ(playing(), "/resources/chime.wav");
    EXPECT_TRUE(platform.playingSound()->looping);
    sound.stop();
    platform.undecodable.insert("/resources/chime.wav");
    launch({ alarm("t1", now(), "alarm", "chime") });
    platform.advance(second);
    EXPECT_EQ(ringing(), "t1");
    EXPECT_FALSE(controller->ringer().hasPlayer());
}

// Brindle died under a ringing alarm, before its fired key reached the disk: after the restart it
// rings on, once, until answered or ten minutes after it began.
TEST_F(Ring, ARingCutShortRingsOnAfterARestartButIsNotDeliveredAgain)
{
    platform.failingWrites.insert(defaultsPath);
    launch({ alarm("t1", now() + second, "alarm", "chime"), alarm("t2", now() + hour) });
    platform.advance(second);
    ASSERT_EQ(ringing(), "t1");
    platform.advance(4 * minute);
    restart();
    platform.failingWrites.clear();
    EXPECT_EQ(ringing(), "t1");
    EXPECT_EQ(playing(), "/resources/chime.wav");
    platform.advance(6 * minute - second);
    EXPECT_EQ(platform.openPanels().size(), 1u);
    EXPECT_EQ(platform.panels.size(), 2u) << "rung on, not delivered again";
    platform.advance(second);
    EXPECT_EQ(ringing(), "");
    restart();
    EXPECT_EQ(ringing(), "");

    platform.advance(hour - 10 * minute);
    ASSERT_EQ(ringing(), "t2");
    panel()->content.onStop();
    restart();
    EXPECT_EQ(ringing(), "") << "an answered ring stays answered";
}

} // namespace brindle::testing
