#include "platform/linux/glib_timer.h"
#include "support/main_loop.h"

#include <gtest/gtest.h>

namespace brindle::native {

using brindle::testing::runUntil;

// A one-shot fires once, a repeating one until destroyed, also from inside its own firing, and a
// destroyed one never.
TEST(GlibTimer, FiresUntilDestroyed)
{
    int once = 0, dropped = 0, ticks = 0;
    auto oneShot = startGlibTimer(0.001, false, [&] { ++once; });
    startGlibTimer(0.001, true, [&] { ++dropped; }).reset();
    std::unique_ptr<Timer> repeating;
    int repeats = 0;
    repeating = startGlibTimer(0.001, true, [&] {
        if (++repeats == 3)
            repeating.reset();
    });
    // A later timer firing a few times shows that every other had its chance.
    auto ticker = startGlibTimer(0.001, true, [&] { ++ticks; });
    ASSERT_TRUE(runUntil([&] { return ticks >= 3 && !repeating; }));
    ticks = 0;
    ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(repeats, 3);
    EXPECT_EQ(once, 1);
}

} // namespace brindle::native
