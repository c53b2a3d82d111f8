#include "ringing_fixture.h"

namespace brindle::testing {
namespace {

// Hiding Brindle hides a ringing alarm's panel with the window. Every way back (Show Brindle, a
// second launch, a notification click) shows the panel again, and only while it rings.
TEST_F(RingingTest, ShowingBrindleWhileItRingsShowsThePanelToo)
{
    ringAtLaunch({ alarm("t1", now(), "Wake") });
    auto panel = openPanel();
    ASSERT_TRUE(panel);
    controller.showWindow();
    EXPECT_TRUE(controller.applicationShouldHandleReopen());
    EXPECT_EQ(panel->presents, 2);

    controller.stopAlarm();
    controller.showWindow();
    EXPECT_EQ(panel->presents, 2);
}

} // namespace
} // namespace brindle::testing
