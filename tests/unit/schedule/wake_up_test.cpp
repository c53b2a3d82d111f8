#include "unit/fixture.h"

namespace brindle::testing {
using WakeUp = BrindleTest;

// A minute before the earliest alarm the tick would still ring; reminders never wake the machine.
TEST_F(WakeUp, IsSetForTheEarliestAlarmAheadAMinuteEarly)
{
    double const t = now();
    launch();
    ASSERT_EQ(platform.wakeUps, (std::vector<std::optional<double>> { std::nullopt })) << "set at launch";

    for (auto const& [alarms, wakeUp] : std::vector<std::pair<std::vector<Alarm>, std::optional<double>>> {
             { { alarm("later", t + hour), alarm("sooner", t + 20 * minute),
                   alarm("note", t + minute, "reminder"), alarm("Capital", t + 2 * minute, "Alarm") },
                 t + 20 * minute - minute },
             { { alarm("note", t + minute, "reminder") }, std::nullopt },
             { { alarm("close", t + 30 * second) }, t + 30 * second },
             { { alarm("due", t - 5 * minute), alarm("later", t + hour) }, t - 5 * minute },
             { { alarm("gone", t - 15 * minute), alarm("later", t + hour) }, t + hour - minute },
             { { alarm("year 10000", 253'402'300'800'000.0), alarm("later", t + hour) }, t + hour - minute },
             { { alarm("never", 1e300) }, std::nullopt }, { {}, std::nullopt } }) {
        schedule(alarms);
        EXPECT_EQ(platform.wakeUp(), wakeUp) << ::testing::PrintToString(keys());
    }
    auto const calls = platform.wakeUps.size();
    schedule({});
    EXPECT_EQ(platform.wakeUps.size(), calls) << "an unchanged wake-up is not set again";
}

TEST_F(WakeUp, FollowsRingsAndSnoozesAndGoesAtQuit)
{
    double const t = now();
    launch({ alarm("first", t + 2 * minute), alarm("second", t + hour) });
    EXPECT_EQ(platform.wakeUp(), t + minute);
    platform.advance(2 * minute);
    ASSERT_EQ(ringing(), "first");
    EXPECT_EQ(platform.wakeUp(), t + hour - minute);
    panel()->content.onSnooze();
    EXPECT_EQ(platform.wakeUp(), now() + 5 * minute - minute);

    restart();
    EXPECT_EQ(platform.wakeUp(), now() + 4 * minute) << "after a restart, from the store";
    EXPECT_EQ(requestQuit(1), true);
    EXPECT_EQ(platform.wakeUp(), std::nullopt);
}

// Held until the ring ends, or until its alarm leaves the schedule or moves.
TEST_F(WakeUp, HoldsSleepFromTheWakeUpUntilTheRingEnds)
{
    double const t = now();
    launch({ alarm("first", t + 10 * minute), alarm("second", t + 12 * minute) });
    platform.advance(9 * minute);
    platform.wakeUpAction();
    EXPECT_EQ(platform.liveSleepHolds(), 1);
    platform.advance(2 * minute);
    ASSERT_EQ(ringing(), "first");
    platform.wakeUpAction(); // for "second", while "first" rings
    panel()->content.onStop();
    EXPECT_EQ(platform.liveSleepHolds(), 1) << "kept for the alarm still to come";
    platform.advance(6 * minute);
    ASSERT_EQ(ringing(), "second");
    EXPECT_EQ(platform.liveSleepHolds(), 1) << "held while it rings";
    panel()->content.onStop();
    EXPECT_EQ(platform.liveSleepHolds(), 0);

    schedule({ alarm("third", t + 20 * minute) });
    platform.advance(2 * minute);
    platform.wakeUpAction();
    schedule({ alarm("third", t + 20 * minute), alarm("note", t + hour, "reminder") });
    EXPECT_EQ(platform.liveSleepHolds(), 1) << "its alarm is still ahead";
    schedule({ alarm("third", t + 40 * minute) });
    EXPECT_EQ(platform.liveSleepHolds(), 0) << "its alarm was moved";
    platform.advance(19 * minute);
    platform.wakeUpAction();
    schedule({}); // "fourth" is removed meanwhile
    EXPECT_EQ(platform.liveSleepHolds(), 0);

    EXPECT_EQ(platform.sleepHoldsTaken, 3);
}

} // namespace brindle::testing
