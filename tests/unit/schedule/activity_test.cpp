#include "schedule_fixture.h"

namespace brindle::testing {
namespace {

using ActivityTest = ScheduleTest;

TEST_F(ActivityTest, IsHeldExactlyWhileSomeAlarmLiesStrictlyAhead)
{
    // Nothing at all, and a record exactly at this millisecond: nothing pending.
    controller->updateActivity();
    load({ alarm("now", now()) });
    controller->updateActivity();
    EXPECT_FALSE(controller->hasActivity());
    EXPECT_EQ(platform.activitiesBegun, 0);

    // Whatever its mode, a record a millisecond ahead makes the schedule pending, once.
    load({ alarm("past", now() - 1), alarm("soon", now() + 1, "reminder") });
    controller->updateActivity();
    controller->updateActivity();
    controller->save();
    EXPECT_TRUE(controller->hasActivity());
    EXPECT_EQ(platform.activitiesBegun, 1);

    // Overdue records not yet pruned do not keep it.
    platform.setNow(now() + 1);
    controller->updateActivity();
    EXPECT_FALSE(controller->hasActivity());
    EXPECT_EQ(platform.liveActivities(), 0);
    controller->updateActivity();
    EXPECT_EQ(platform.activitiesEnded, 1);
}

TEST_F(ActivityTest, OnlyASaveOrLaunchSettlesIt)
{
    load({ alarm("t1", now() + 60000) });
    controller->applicationDidFinishLaunching();
    EXPECT_TRUE(controller->hasActivity());

    // The passing of the time alone, and passes that deliver nothing, leave it held.
    platform.setNow(now() + 30 * 60000);
    controller->tick();
    EXPECT_TRUE(controller->alarms().empty());
    EXPECT_TRUE(controller->hasActivity());
    controller->save();
    EXPECT_FALSE(controller->hasActivity());
}

} // namespace
} // namespace brindle::testing
