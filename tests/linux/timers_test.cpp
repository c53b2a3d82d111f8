#include "platform/linux/timers.h"
#include "support/main_loop.h"

#include <functional>
#include <glib.h>
#include <gtest/gtest.h>

namespace brindle::native {

using brindle::testing::runUntil;

class Timers : public ::testing::Test {
protected:
    int ticks = 0;
    std::unique_ptr<Timer> tickTimer = timer(true, [this] { ++ticks; });

    static std::unique_ptr<Timer> timer(bool repeats, std::function<void()> action)
    {
        return scheduleGlibTimer(0.001, repeats, std::move(action));
    }
    // Lets the repeating timer fire a few more times, so that every other had its chance.
    void letTicksPass()
    {
        int const before = ticks;
        ASSERT_TRUE(runUntil([&] { return ticks >= before + 3; }));
    }
};

// A one-shot fires once, a repeating one until invalidated, an invalidated or destroyed one never.
TEST_F(Timers, FireAsAsked)
{
    int once = 0, dropped = 0, repeating = 0;
    auto oneShot = timer(false, [&] { ++once; });
    timer(true, [&] { ++dropped; }).reset();
    timer(false, [&] { ++dropped; })->invalidate();
    auto repeated = timer(true, [&] { ++repeating; });
    ASSERT_TRUE(runUntil([&] { return repeating >= 3; }));
    repeated->invalidate();
    int const atInvalidation = repeating;
    letTicksPass();
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(repeating, atInvalidation);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(oneShot->isValid());
}

} // namespace brindle::native
