#include "unit/fixture.h"

#include <functional>
#include <utility>

namespace brindle::testing {

using RingNotification = BrindleTest;

// Of two rings in one pass only the second's notification stays on screen.
TEST_F(RingNotification, IsWithdrawnHoweverTheRingEnds)
{
    using Ending = std::pair<char const*, std::function<void()>>;
    for (auto const& [how, end] : {
             Ending { "panel stop", [this] { panel()->content.onStop(); } },
             Ending { "panel snooze", [this] { panel()->content.onSnooze(); } },
             Ending { "notification stop", [this] { shown()->content.onStop(); } },
             Ending { "notification snooze",
                 [this] {
                     shown()->content.onSnooze();
                     EXPECT_TRUE(platform.openPanels().empty());
                     EXPECT_EQ(stored().back().key, "t1/notification snooze/snooze");
                 } },
             Ending { "page stop", [this] { post(R"({"id":1,"method":"stop"})"); } },
             Ending { "new schedule", [this] { schedule({}, R"(,"taskIds":[])"); } },
             Ending { "ten minutes", [this] { platform.advance(600'000); } },
         }) {
        platform.alarmNotifications.clear();
        controller.emplace(platform, AppSettings { "localhost", "", "Brindle" });
        launch({ alarm("first", now()), alarm("t1/" + std::string(how), now()) });
        platform.advance(1000);
        ASSERT_TRUE(shown()) << how;
        EXPECT_EQ(shown()->content.body, "Title of t1/" + std::string(how));
        end();
        EXPECT_FALSE(controller->ringer().ringing()) << how;
        EXPECT_TRUE(platform.shownAlarmNotifications().empty()) << how;
    }
}

TEST_F(BrindleTest, ARingingAlarmOpensItsOutputAgainUntilItPlaysAndAPreviewStaysSilent)
{
    platform.audioOutput = false;
    launch({ alarm("t1", now(), "alarm", "chime") });
    platform.advance(1000);
    EXPECT_FALSE(platform.playingSound());
    platform.advance(1'500);
    EXPECT_EQ(platform.sounds.size(), 2u) << "tried again";
    EXPECT_FALSE(platform.playingSound());

    platform.audioOutput = true;
    platform.advance(1'500);
    EXPECT_EQ(playing(), "/resources/chime.wav");
    EXPECT_TRUE(platform.playingSound()->looping);
    EXPECT_EQ(platform.playingSound()->mediaName, "Alarm: Title of t1")
        << "the new stream named as the first";

    platform.playingSound()->loseOutput();
    panel()->content.onStop();
    std::size_t const tried = platform.sounds.size();
    platform.advance(10'000);
    EXPECT_EQ(platform.sounds.size(), tried);

    platform.audioOutput = false;
    post(R"({"id":1,"method":"preview","data":{"sound":"bell"}})");
    platform.audioOutput = true;
    platform.advance(10'000);
    EXPECT_EQ(platform.sounds.size(), tried + 1);
    EXPECT_FALSE(platform.playingSound());
}

TEST_F(BrindleTest, ABackgroundLaunchRingsWithoutShowingTheWindowUntilReopened)
{
    platform.files[storePath] = encodeAlarmsJson({ alarm("t1", now() + 60'000) });
    controller->launch(LaunchMode::inBackground);
    EXPECT_EQ(platform.webViews.front()->loads.size(), 1u);
    platform.advance(60'000);
    ASSERT_TRUE(panel());
    EXPECT_EQ(platform.windows.front()->shows, 0);

    controller->reopen();
    EXPECT_EQ(platform.windows.front()->shows, 1);
}

TEST_F(BrindleTest, ShowingBrindleWhileItRingsShowsThePanelToo)
{
    launch({ alarm("t1", now()) });
    platform.advance(1000);
    auto ringPanel = panel();
    ASSERT_TRUE(ringPanel);
    controller->presentWindow();
    controller->reopen();
    EXPECT_EQ(ringPanel->presents, 2);

    controller->ringer().stop();
    controller->presentWindow();
    EXPECT_EQ(ringPanel->presents, 2);
}

} // namespace brindle::testing
