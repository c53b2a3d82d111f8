#include "main_loop.h"
#include "platform/linux/timers.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace brindle::native {
namespace {

class Timers : public ::testing::Test {
protected:
    std::shared_ptr<ModalState> modal = std::make_shared<ModalState>();
    int tick = 0;
    std::unique_ptr<Timer> tickTimer;

    std::unique_ptr<Timer> timer(bool repeats, TimerModes modes, std::function<void()> action)
    {
        return scheduleGlibTimer(modal, 0.001, repeats, modes, std::move(action));
    }

    // Runs the loop until a timer scheduled later has fired, so that every earlier one had its
    // chance to fire again.
    void letLaterTimersRun()
    {
        bool later = false;
        auto next = scheduleGlibTimer(modal, 0.02, false, TimerModes::common, [&] { later = true; });
        ASSERT_TRUE(runUntil([&] { return later; }));
    }

    // Starts a common repeating timer and runs the loop until it has fired a few more times.
    void letTicksPass(int count = 3)
    {
        if (!tickTimer)
            tickTimer = timer(true, TimerModes::common, [this] { ++tick; });
        int const before = tick;
        ASSERT_TRUE(runUntil([&] { return tick >= before + count; }));
    }
};

TEST_F(Timers, OneShotFiresOnceAndRepeatingRunsUntilInvalidatedOrDestroyed)
{
    int once = 0;
    auto oneShot = timer(false, TimerModes::common, [&] { ++once; });
    EXPECT_TRUE(oneShot->isValid());
    ASSERT_TRUE(runUntil([&] { return once == 1; }));
    EXPECT_FALSE(oneShot->isValid());

    int repeated = 0;
    auto repeating = timer(true, TimerModes::common, [&] { ++repeated; });
    ASSERT_TRUE(runUntil([&] { return repeated >= 3; }));
    EXPECT_TRUE(repeating->isValid());
    repeating->invalidate();
    EXPECT_FALSE(repeating->isValid());
    int const atInvalidation = repeated;

    int destroyedFired = 0;
    timer(true, TimerModes::common, [&] { ++destroyedFired; }).reset();

    // An action may destroy its own timer.
    int selfDestroyed = 0;
    std::unique_ptr<Timer> own;
    own = timer(true, TimerModes::common, [&] {
        ++selfDestroyed;
        own.reset();
    });
    letLaterTimersRun();
    EXPECT_EQ(once, 1);
    EXPECT_EQ(repeated, atInvalidation);
    EXPECT_EQ(destroyedFired, 0);
    EXPECT_EQ(selfDestroyed, 1);
    EXPECT_FALSE(own);
}

TEST_F(Timers, DefaultOnlyTimerWaitsForTheLastDialogAndFiresOnceAfterIt)
{
    int safety = 0;
    auto safetyTimer = timer(false, TimerModes::defaultOnly, [&] { ++safety; });
    auto outer = std::make_unique<ModalScope>(*modal);
    {
        ModalScope dialog(*modal);
        // The common timer goes on while the dialog is up; the default-only one is held.
        letTicksPass(5);
        EXPECT_EQ(safety, 0);
        EXPECT_TRUE(safetyTimer->isValid());
    }
    letTicksPass();
    EXPECT_EQ(safety, 0) << "an outer dialog is still up";
    outer.reset();
    // Not from inside the dialog's closing, but from the main loop right after it.
    EXPECT_EQ(safety, 0);
    ASSERT_TRUE(runUntil([&] { return safety == 1; }));
    EXPECT_FALSE(safetyTimer->isValid());
    letTicksPass();
    EXPECT_EQ(safety, 1);
}

TEST_F(Timers, HeldFiringOfAnInvalidatedOrDestroyedTimerNeverRuns)
{
    int safety = 0;
    auto invalidated = timer(false, TimerModes::defaultOnly, [&] { ++safety; });
    auto destroyed = timer(false, TimerModes::defaultOnly, [&] { ++safety; });
    {
        ModalScope dialog(*modal);
        letTicksPass();
        invalidated->invalidate();
        destroyed.reset();
    }
    letTicksPass();
    while (g_main_context_iteration(nullptr, FALSE)) { }
    EXPECT_EQ(safety, 0);
}

TEST_F(Timers, RepeatingDefaultOnlyTimerPausesDuringADialog)
{
    int repeating = 0;
    auto paused = timer(true, TimerModes::defaultOnly, [&] { ++repeating; });
    ASSERT_TRUE(runUntil([&] { return repeating >= 1; }));
    int atDialog = 0;
    {
        ModalScope dialog(*modal);
        atDialog = repeating;
        letTicksPass(5);
        EXPECT_EQ(repeating, atDialog);
    }
    ASSERT_TRUE(runUntil([&] { return repeating >= atDialog + 3; }));
    EXPECT_TRUE(paused->isValid());
}

} // namespace
} // namespace brindle::native
