#include "ringing_fixture.h"

namespace brindle::testing {

namespace {

class AlarmSound : public RingingTest { };

// Each call loads its file afresh and stops the one before; any name but a shipped one, spelt
// exactly, plays the bell, also for an alarm.
TEST_F(AlarmSound, PlaysTheShippedSoundsByExactNameAndTheBellForAnyOther)
{
    for (auto [name, file] : { std::pair { "bell", "bell" }, { "chime", "chime" }, { "digital", "digital" },
             { "Bell", "bell" }, { "CHIME", "bell" }, { "", "bell" }, { "gong", "bell" },
             { "digital ", "bell" }, { "bell.wav", "bell" } }) {
        std::size_t const before = platform.sounds.size();
        controller.play(name, false);
        ASSERT_TRUE(platform.playingSound()) << name;
        EXPECT_EQ(platform.playingSound()->path, resource(file)) << name;
        EXPECT_FALSE(platform.playingSound()->looping);
        EXPECT_EQ(platform.sounds.size(), before + 1);
        if (before > 0) {
            EXPECT_TRUE(platform.sounds[before - 1]->stopped);
        }
    }

    ringAtLaunch({ alarm("t1", platform.nowMs(), "Odd sound", "foghorn") });
    ASSERT_TRUE(platform.playingSound());
    EXPECT_EQ(platform.playingSound()->path, resource("bell"));
    EXPECT_TRUE(platform.playingSound()->looping);
}

// Without the resource there is nothing to play instead, so the current sound is left alone.
TEST_F(AlarmSound, AMissingResourceChangesNothing)
{
    platform.resources.erase("bell");
    controller.play("chime", true);
    auto chime = platform.playingSound();
    ASSERT_TRUE(chime);

    controller.play("foghorn", false);
    controller.play("bell", false);

    EXPECT_EQ(platform.sounds.size(), 1u);
    EXPECT_EQ(platform.playingSound(), chime);
    EXPECT_TRUE(controller.hasPlayer());
}

TEST_F(AlarmSound, AnUndecodableFileLeavesNoPlayerButTheAlarmStillShows)
{
    platform.undecodable.insert(resource("digital"));
    launchWith({ alarm("t1", platform.nowMs() + 500, "Silent", "digital") });
    controller.play("chime", false);
    auto preview = platform.playingSound();

    platform.advance(1000);

    EXPECT_TRUE(preview->stopped);
    EXPECT_FALSE(platform.playingSound());
    EXPECT_FALSE(controller.hasPlayer());
    ASSERT_TRUE(openPanel());
    EXPECT_TRUE(controller.active());

    // Stop and snooze work as ever.
    openPanel()->content.onSnooze();
    EXPECT_EQ(controller.alarms().back().key, "t1/snooze");
    EXPECT_TRUE(platform.openPanels().empty());
}

// The page's preview shares the one player with alarms: it is refused while an alarm rings,
// replaced by a ring, and ended by the page's stop.
TEST_F(AlarmSound, PreviewsShareThePlayerWithAlarms)
{
    launchWith({ alarm("t1", platform.nowMs() + 5'000, "Ring", "digital") });

    sendFromPage(R"({"id":1,"method":"preview","data":{"sound":"chime"}})");
    auto preview = platform.playingSound();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->path, resource("chime"));
    EXPECT_FALSE(preview->looping);

    sendFromPage(R"({"id":2,"method":"stop"})");
    EXPECT_FALSE(platform.playingSound());
    EXPECT_FALSE(controller.hasPlayer());

    sendFromPage(R"({"id":3,"method":"preview"})");
    ASSERT_TRUE(platform.playingSound());
    EXPECT_EQ(platform.playingSound()->path, resource("bell"));

    platform.advance(5'000);
    auto ringing = platform.playingSound();
    ASSERT_TRUE(ringing);
    EXPECT_EQ(ringing->path, resource("digital"));
    EXPECT_TRUE(ringing->looping);
    std::size_t soundsWhileRinging = platform.sounds.size();

    sendFromPage(R"({"id":4,"method":"preview","data":{"sound":"chime"}})");
    EXPECT_EQ(platform.sounds.size(), soundsWhileRinging);
    EXPECT_EQ(platform.playingSound(), ringing);
}

} // namespace

} // namespace brindle::testing
