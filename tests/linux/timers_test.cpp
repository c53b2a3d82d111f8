#include "platform/linux/timers.h"
#include "support/main_loop.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace brindle::native {

using brindle::testing::runUntil;

// A one-shot fires once, a repeating one until invalidated, an invalidated or destroyed one never.
TEST(Timers, FireAsAsked)
{
    int once = 0, dropped = 0, repeating = 0, ticks = 0;
    auto oneShot = scheduleGlibTimer(0.001, false, [&] { ++once; });
    scheduleGlibTimer(0.001, true, [&] { ++dropped; }).reset();
    scheduleGlibTimer(0.001, false, [&] { ++dropped; })->invalidate();
    auto repeated = scheduleGlibTimer(0.001, true, [&] { ++repeating; });
    ASSERT_TRUE(runUntil([&] { return repeating >= 3; }));
    repeated->invalidate();
    int const atInvalidation = repeating;
    // A later timer firing a few times shows that every other had its chance.
    auto ticker = scheduleGlibTimer(0.001, true, [&] { ++ticks; });
    ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(repeating, atInvalidation);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(oneShot->isValid());
}

} // namespace brindle::native
