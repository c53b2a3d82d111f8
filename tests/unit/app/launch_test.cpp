#include "app_fixture.h"

namespace brindle::testing {

namespace {

class Launch : public AppTest { };

// Launch itself delivers nothing: an alarm that fell due while Brindle was not running is left
// to the first beat of the tick timer, a second later, and after that one beat a second.
TEST_F(Launch, OpensTheWindowOnThePlannerAndFrontsItAndPassesASecondLater)
{
    launchWith({ reminder("missed", now() - 5 * minute), reminder("next", now() + 1500) });

    auto window = mainWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->layout.title, "Brindle");
    EXPECT_EQ(window->layout.width, 1060);
    EXPECT_EQ(window->layout.height, 780);
    EXPECT_EQ(window->shows, 1);
    EXPECT_EQ(platform.activations, 1);

    ASSERT_EQ(platform.webViews.size(), 1u);
    EXPECT_EQ(platform.webViews.front()->loads, (std::vector<std::string> { "https://localhost/planner" }));
    EXPECT_EQ(platform.authorizationRequests, 1);
    EXPECT_TRUE(platform.wakeAction);

    EXPECT_TRUE(platform.notifications.empty());

    platform.advance(999);
    EXPECT_TRUE(platform.notifications.empty());
    platform.advance(1);
    EXPECT_EQ(notifiedKeys(), (std::vector<std::string> { "missed" }));
    platform.advance(second);
    EXPECT_EQ(notifiedKeys(), (std::vector<std::string> { "missed", "next" }));
}

TEST(LaunchWithPort, TheDevelopmentPortGoesIntoThePageAddressOnly)
{
    fake::FakePlatform platform;
    AppDelegate development { platform, "localhost", "8443" };
    development.applicationDidFinishLaunching();
    EXPECT_EQ(
        platform.webViews.at(0)->loads, (std::vector<std::string> { "https://localhost:8443/planner" }));
    EXPECT_EQ(development.appHost(), "localhost");
}

class Reopen : public AppTest { };

// The window is made once; closing it only hides it, so every way back shows that same window
// with its page as it was, also while an alarm's panel is up, which it leaves ringing. A reopen
// that raced the launch does nothing and must not crash.
TEST_F(Reopen, ShowsTheSameWindowAndFrontsBrindle)
{
    EXPECT_TRUE(controller.applicationShouldHandleReopen());
    controller.showWindow();
    EXPECT_TRUE(platform.windows.empty());
    EXPECT_EQ(platform.activations, 0);

    launchWith({ alarm("ringing", now() + 500) });
    platform.advance(second);
    ASSERT_EQ(platform.openPanels().size(), 1u);
    auto window = mainWindow();
    ASSERT_TRUE(window);
    int const shows = window->shows;
    int const activations = platform.activations;

    EXPECT_FALSE(controller.applicationShouldTerminateAfterLastWindowClosed());
    EXPECT_TRUE(controller.applicationShouldHandleReopen());
    controller.showWindow();

    EXPECT_EQ(platform.windows.size(), 1u);
    EXPECT_EQ(platform.webViews.size(), 1u);
    EXPECT_EQ(platform.webViews.front()->loads.size(), 1u);
    EXPECT_EQ(window->shows, shows + 2);
    EXPECT_EQ(platform.activations, activations + 2);
    EXPECT_EQ(platform.openPanels().size(), 1u);
    EXPECT_TRUE(controller.active());
}

class Wake : public AppTest {
protected:
    // The machine sleeps for the given time: the clock moves on but no timer fires until the
    // system reports the wake.
    void sleepAndWake(double ms)
    {
        platform.setNow(now() + ms);
        ASSERT_TRUE(platform.wakeAction);
        platform.wakeAction();
    }
};

// On wake a pass runs at once: what is less than fifteen minutes late is delivered right away,
// what is later than that is dropped without notice, and the store keeps only what is left.
TEST_F(Wake, RunsAPassAtOnce)
{
    double start = now();
    launchWith({
        reminder("ten-late", start + 20 * minute),
        alarm("ring-late", start + 25 * minute),
        reminder("twenty-late", start + 10 * minute),
        reminder("ahead", start + 40 * minute),
    });
    platform.advance(second);
    ASSERT_TRUE(platform.notifications.empty());

    sleepAndWake(30 * minute);

    EXPECT_EQ(notifiedKeys(), (std::vector<std::string> { "ten-late" }));
    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "ring-late");

    std::vector<std::string> kept;
    for (auto const& alarm : controller.alarms())
        kept.push_back(alarm.key);
    EXPECT_EQ(kept, (std::vector<std::string> { "ten-late", "ring-late", "ahead" }));
    auto stored = decodeAlarmsJson(platform.files[storePath]);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, controller.alarms());

    // The timer's next beat finds everything already delivered.
    platform.advance(second);
    EXPECT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.panels.size(), 1u);

    // A wake with nothing due writes nothing.
    int writesBefore = platform.writeCount;
    sleepAndWake(minute);
    EXPECT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.writeCount, writesBefore);
}

} // namespace

} // namespace brindle::testing
