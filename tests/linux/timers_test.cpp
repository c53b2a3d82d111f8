#include "main_loop.h"
#include "platform/linux/timers.h"

#include <functional>
#include <glib.h>
#include <gtest/gtest.h>

namespace brindle::native {
namespace {

// Lets every source that is ready now run, without waiting for any.
void drain()
{
    while (g_main_context_iteration(nullptr, FALSE)) { }
}

class Timers : public ::testing::Test {
protected:
    std::shared_ptr<ModalState> modal = std::make_shared<ModalState>();
};

TEST_F(Timers, OneShotFiresOnceAndThenIsInvalid)
{
    int fired = 0;
    auto timer = scheduleGlibTimer(modal, 0.001, false, TimerModes::common, [&] { ++fired; });
    EXPECT_TRUE(timer->isValid());
    ASSERT_TRUE(runUntil([&] { return fired == 1; }));
    EXPECT_FALSE(timer->isValid());

    // A later timer running proves the first had its chance to fire again and did not.
    bool later = false;
    auto next = scheduleGlibTimer(modal, 0.02, false, TimerModes::common, [&] { later = true; });
    ASSERT_TRUE(runUntil([&] { return later; }));
    EXPECT_EQ(fired, 1);
}

TEST_F(Timers, RepeatingTimerRunsUntilInvalidatedOrDestroyed)
{
    int fired = 0;
    auto timer = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] { ++fired; });
    ASSERT_TRUE(runUntil([&] { return fired >= 3; }));
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    int const atInvalidation = fired;

    bool later = false;
    auto next = scheduleGlibTimer(modal, 0.02, false, TimerModes::common, [&] { later = true; });
    ASSERT_TRUE(runUntil([&] { return later; }));
    EXPECT_EQ(fired, atInvalidation);

    // Destroying cancels just the same.
    int destroyedFired = 0;
    auto destroyed = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] { ++destroyedFired; });
    destroyed.reset();
    later = false;
    next = scheduleGlibTimer(modal, 0.02, false, TimerModes::common, [&] { later = true; });
    ASSERT_TRUE(runUntil([&] { return later; }));
    EXPECT_EQ(destroyedFired, 0);
}

TEST_F(Timers, ActionMayDestroyItsOwnTimer)
{
    int fired = 0;
    std::unique_ptr<Timer> timer;
    timer = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] {
        ++fired;
        timer.reset();
    });
    ASSERT_TRUE(runUntil([&] { return !timer; }));
    bool later = false;
    auto next = scheduleGlibTimer(modal, 0.02, false, TimerModes::common, [&] { later = true; });
    ASSERT_TRUE(runUntil([&] { return later; }));
    EXPECT_EQ(fired, 1);
}

TEST_F(Timers, DefaultOnlyTimerWaitsForTheDialogAndFiresOnceAfterIt)
{
    int safety = 0;
    int tick = 0;
    auto safetyTimer = scheduleGlibTimer(modal, 0.001, false, TimerModes::defaultOnly, [&] { ++safety; });
    auto tickTimer = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] { ++tick; });
    {
        ModalScope dialog(*modal);
        // The common timer goes on while the dialog is up; the default-only one is held.
        ASSERT_TRUE(runUntil([&] { return tick >= 5; }));
        EXPECT_EQ(safety, 0);
        EXPECT_TRUE(safetyTimer->isValid());
    }
    // Not from inside the dialog's closing, but from the main loop right after it.
    EXPECT_EQ(safety, 0);
    ASSERT_TRUE(runUntil([&] { return safety == 1; }));
    EXPECT_FALSE(safetyTimer->isValid());
    int const ticksSoFar = tick;
    ASSERT_TRUE(runUntil([&] { return tick > ticksSoFar + 2; }));
    EXPECT_EQ(safety, 1);
}

TEST_F(Timers, NestedDialogsHoldTheFiringUntilTheLastCloses)
{
    int safety = 0;
    auto safetyTimer = scheduleGlibTimer(modal, 0.001, false, TimerModes::defaultOnly, [&] { ++safety; });
    int tick = 0;
    auto tickTimer = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] { ++tick; });
    auto outer = std::make_unique<ModalScope>(*modal);
    {
        ModalScope inner(*modal);
        ASSERT_TRUE(runUntil([&] { return tick >= 3; }));
    }
    int const ticksSoFar = tick;
    ASSERT_TRUE(runUntil([&] { return tick > ticksSoFar + 2; }));
    EXPECT_EQ(safety, 0);
    outer.reset();
    ASSERT_TRUE(runUntil([&] { return safety == 1; }));
}

TEST_F(Timers, HeldFiringOfAnInvalidatedTimerNeverRuns)
{
    int safety = 0;
    int tick = 0;
    auto safetyTimer = scheduleGlibTimer(modal, 0.001, false, TimerModes::defaultOnly, [&] { ++safety; });
    auto tickTimer = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] { ++tick; });
    {
        ModalScope dialog(*modal);
        ASSERT_TRUE(runUntil([&] { return tick >= 3; }));
        safetyTimer->invalidate();
    }
    int const ticksSoFar = tick;
    ASSERT_TRUE(runUntil([&] { return tick > ticksSoFar + 2; }));
    drain();
    EXPECT_EQ(safety, 0);

    // Destroyed while held: the same.
    auto destroyed = scheduleGlibTimer(modal, 0.001, false, TimerModes::defaultOnly, [&] { ++safety; });
    {
        ModalScope dialog(*modal);
        int const before = tick;
        ASSERT_TRUE(runUntil([&] { return tick > before + 2; }));
        destroyed.reset();
    }
    int const afterDialog = tick;
    ASSERT_TRUE(runUntil([&] { return tick > afterDialog + 2; }));
    EXPECT_EQ(safety, 0);
}

TEST_F(Timers, RepeatingDefaultOnlyTimerPausesDuringADialog)
{
    int repeating = 0;
    int tick = 0;
    auto timer = scheduleGlibTimer(modal, 0.001, true, TimerModes::defaultOnly, [&] { ++repeating; });
    auto tickTimer = scheduleGlibTimer(modal, 0.001, true, TimerModes::common, [&] { ++tick; });
    ASSERT_TRUE(runUntil([&] { return repeating >= 1; }));
    int atDialog = 0;
    {
        ModalScope dialog(*modal);
        atDialog = repeating;
        int const before = tick;
        ASSERT_TRUE(runUntil([&] { return tick > before + 5; }));
        EXPECT_EQ(repeating, atDialog);
    }
    ASSERT_TRUE(runUntil([&] { return repeating >= atDialog + 3; }));
    EXPECT_TRUE(timer->isValid());
}

} // namespace
} // namespace brindle::native
