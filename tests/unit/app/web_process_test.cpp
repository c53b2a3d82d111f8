#include "app_fixture.h"

namespace brindle::testing {

namespace {

// The web process behind the planner crashed or was killed. Brindle brings the page back, but a
// page that keeps killing its process must not be reloaded in a tight loop.
class WebProcessGone : public AppTest {
protected:
    void SetUp() override { launchWith({}); }

    fake::FakeWebView& view() { return *platform.webViews.front(); }
    void terminate() { view().config.onWebProcessTerminated(); }

    static constexpr double spacing = 10 * second;
};

TEST_F(WebProcessGone, LossesInQuickSuccessionReloadOnceEveryTenSeconds)
{
    terminate();
    EXPECT_EQ(view().reloads, 1) << "the first loss reloads at once";
    // Reloading is not loading the address again: the view goes back to the page it showed.
    EXPECT_EQ(view().loads.size(), 1u);

    platform.advance(2 * second);
    terminate();
    EXPECT_EQ(view().reloads, 1) << "too soon after the last reload";

    // More losses while a reload waits add nothing to it.
    platform.advance(3 * second);
    terminate();
    terminate();
    platform.advance(spacing - 5 * second - 1);
    EXPECT_EQ(view().reloads, 1);
    platform.advance(1);
    EXPECT_EQ(view().reloads, 2) << "ten seconds after the first reload";

    platform.advance(5 * spacing);
    EXPECT_EQ(view().reloads, 2) << "nothing further was lost";
    terminate();
    EXPECT_EQ(view().reloads, 3) << "long after the last reload, a loss reloads at once again";

    // The spacing is measured on the wall clock, which may be set back; an hour back must not
    // leave the window blank for an hour.
    platform.setNow(now() - hour);
    terminate();
    platform.advance(spacing);
    EXPECT_EQ(view().reloads, 4);
}

// The page was never needed for alarms: one that falls due while the page is gone, and its
// reload still waits, rings all the same.
TEST_F(WebProcessGone, AlarmsRingWhileThePageIsGone)
{
    Alarm due = alarm("t1/a", now() + 3 * second);
    controller.didReceiveScriptMessage({ true, "https", "localhost",
        R"({"id":1,"method":"schedule","data":{"alarms":[)" + encodeAlarmsJson({ due }).substr(1)
            + R"(,"taskIds":["t1"]}})" });
    ASSERT_EQ(controller.alarms().size(), 1u);

    terminate();
    platform.advance(second);
    terminate();
    platform.advance(2 * second);

    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "t1/a");
    EXPECT_EQ(platform.openPanels().size(), 1u);
    EXPECT_EQ(view().reloads, 1) << "the second reload still waits";
}

} // namespace

} // namespace brindle::testing
