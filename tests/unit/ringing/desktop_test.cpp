#include "ringing_fixture.h"

#include <functional>
#include <utility>

namespace brindle::testing {

namespace {

class RingNotification : public RingingTest {
protected:
    std::shared_ptr<fake::FakeAlarmNotification> shownNotification() const
    {
        auto shown = platform.shownAlarmNotifications();
        return shown.size() == 1 ? shown.front() : nullptr;
    }
};

// Every way a ring ends takes its notification away with the panel.
TEST_F(RingNotification, IsWithdrawnHoweverTheRingEnds)
{
    using Ending = std::pair<char const*, std::function<void()>>;
    for (auto const& [how, end] : {
             Ending { "panel stop", [this] { openPanel()->content.onStop(); } },
             Ending { "panel snooze", [this] { openPanel()->content.onSnooze(); } },
             Ending { "notification stop", [this] { shownNotification()->content.onStop(); } },
             Ending { "page stop", [this] { sendFromPage(R"({"id":1,"method":"stop"})"); } },
             Ending { "new schedule",
                 [this] {
                     sendFromPage(R"({"id":2,"method":"schedule","data":{"alarms":[],"taskIds":[]}})");
                 } },
             Ending { "ten minutes", [this] { platform.advance(600'000); } },
         }) {
        platform.alarmNotifications.clear();
        ringAtLaunch({ alarm("t1/" + std::string(how), platform.nowMs(), "Tea") });
        ASSERT_TRUE(shownNotification()) << how;
        end();
        EXPECT_FALSE(controller.active()) << how;
        EXPECT_TRUE(platform.shownAlarmNotifications().empty()) << how;
    }
}

// Two rings in one pass leave the second's notification alone on screen, and its snooze is the
// panel's snooze.
TEST_F(RingNotification, OneForTheRingingAlarmWhoseSnoozeIsThePanels)
{
    ringAtLaunch({ alarm("first", platform.nowMs(), "First"), alarm("second", platform.nowMs(), "Second") });
    ASSERT_TRUE(shownNotification());
    EXPECT_EQ(shownNotification()->content.body, "Second");
    shownNotification()->content.onSnooze();
    EXPECT_TRUE(platform.openPanels().empty());
    EXPECT_EQ(storedAlarms().back().key, "second/snooze");
}

class SoundOutput : public RingingTest { };

// A ringing alarm whose output goes away tries again every second and a half, for as long as it
// rings and no longer; a preview does no
TEST_F(SoundOutput, ARingingAlarmOpensItAgainUntilItPlaysAndAPreviewStaysSilent)
{
    platform.audioOutput = false;
    ringAtLaunch({ alarm("t1", platform.nowMs(), "Wake up", "chime") });
    EXPECT_FALSE(platform.playingSound());
    platform.advance(1'500);
    EXPECT_EQ(platform.sounds.size(), 2u) << "tried again";
    EXPECT_FALSE(platform.playingSound());

    platform.audioOutput = true;
    platform.advance(1'500);
    auto sound = platform.playingSound();
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->path, resource("chime"));
    EXPECT_TRUE(sound->looping);

    // A stop while the output is away ends the retries too.
    platform.playingSound()->loseOutput();
    openPanel()->content.onStop();
    std::size_t const tried = platform.sounds.size();
    platform.advance(10'000);
    EXPECT_EQ(platform.sounds.size(), tried);

    platform.audioOutput = false;
    sendFromPage(R"({"id":1,"method":"preview","data":{"sound":"bell"}})");
    platform.audioOutput = true;
    platform.advance(10'000);
    EXPECT_EQ(platform.sounds.size(), tried + 1);
    EXPECT_FALSE(platform.playingSound());
}

class BackgroundLaunch : public RingingTest { };

// Started with the session: everything runs but the window, which the first reopen shows.
TEST_F(BackgroundLaunch, RingsWithoutShowingTheWindowUntilReopened)
{
    platform.files[storePath] = encodeAlarmsJson({ alarm("t1", platform.nowMs() + 60'000, "Standup") });
    controller.applicationDidFinishLaunchingInBackground();
    EXPECT_EQ(platform.webViews.front()->loads.size(), 1u);
    platform.advance(60'000);
    ASSERT_TRUE(openPanel());
    EXPECT_EQ(mainWindow()->shows, 0);

    EXPECT_TRUE(controller.applicationShouldHandleReopen());
    EXPECT_EQ(mainWindow()->shows, 1);
}

} // namespace

} // namespace brindle::testing
