#include "platform/linux/timers.h"

#include <functional>
#include <glib.h>
#include <gtest/gtest.h>

namespace brindle::native {

// Runs the default main context until the condition holds; the deadline measures nothing.
static bool runUntil(std::function<bool()> const& condition)
{
    gint64 const deadline = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (!condition() && g_get_monotonic_time() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return condition();
}

class Timers : public ::testing::Test {
protected:
    std::shared_ptr<ModalState> modal = std::make_shared<ModalState>();
    int ticks = 0;
    std::unique_ptr<Timer> tickTimer = timer(true, TimerModes::common, [this] { ++ticks; });

    std::unique_ptr<Timer> timer(bool repeats, TimerModes modes, std::function<void()> action)
    {
        return scheduleGlibTimer(modal, 0.001, repeats, modes, std::move(action));
    }
    // Lets a common repeating timer fire a few more times, so that every other had its chance.
    void letTicksPass()
    {
        int const before = ticks;
        ASSERT_TRUE(runUntil([&] { return ticks >= before + 3; }));
    }
};

// A one-shot fires once, a repeating one until invalidated, a destroyed one never. A default-only
// one waits for the last dialog to close and fires from the main loop; a repeating one pauses.
TEST_F(Timers, FireAsAskedAndDefaultOnlyTimersWaitForTheLastDialog)
{
    int once = 0, safety = 0, dropped = 0, repeating = 0;
    auto oneShot = timer(false, TimerModes::common, [&] { ++once; });
    timer(true, TimerModes::common, [&] { ++dropped; }).reset();
    auto paused = timer(true, TimerModes::defaultOnly, [&] { ++repeating; });
    ASSERT_TRUE(runUntil([&] { return repeating >= 1; }));
    auto safetyTimer = timer(false, TimerModes::defaultOnly, [&] { ++safety; });
    auto invalidated = timer(false, TimerModes::defaultOnly, [&] { ++dropped; });
    auto destroyed = timer(false, TimerModes::defaultOnly, [&] { ++dropped; });
    auto outer = std::make_unique<ModalScope>(*modal);
    int const atDialog = repeating;
    {
        ModalScope dialog(*modal);
        letTicksPass();
        invalidated->invalidate();
        destroyed.reset();
    }
    letTicksPass();
    EXPECT_EQ(safety, 0) << "an outer dialog is still up";
    EXPECT_EQ(repeating, atDialog);
    outer.reset();
    EXPECT_EQ(safety, 0) << "not from inside the dialog's closing";
    ASSERT_TRUE(runUntil([&] { return safety == 1 && repeating >= atDialog + 3; }));
    paused->invalidate();
    int const atInvalidation = repeating;
    letTicksPass();
    EXPECT_EQ(safety, 1);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(repeating, atInvalidation);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(oneShot->isValid());
}

} // namespace brindle::native
