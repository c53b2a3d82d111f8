#include "ringing_fixture.h"

#include <algorithm>

namespace brindle::testing {

namespace {

constexpr double fiveMinutes = 300'000.0;

class AlarmSnooze : public RingingTest {
protected:
    long countKey(std::string const& key) const
    {
        return std::count_if(controller.alarms().begin(), controller.alarms().end(),
            [&](Alarm const& scheduled) { return scheduled.key == key; });
    }
};

// Five minutes count from the press, not from the alarm. Snoozing a snooze keeps the chain's key
// and base, so the list never holds two snoozes of one alarm and the suffix is never doubled.
TEST_F(AlarmSnooze, MovesTheAlarmFiveMinutesFromThePressAndASnoozeOfASnoozeReplacesIt)
{
    double start = platform.nowMs();
    ringAtLaunch({ alarm("t1/main", start, "Stretch", "digital", std::nullopt, "alarm"),
        alarm("t2/main", start + 3'600'000, "Later") });
    platform.advance(42'500);
    double pressedAt = platform.nowMs();
    openPanel()->content.onSnooze();

    EXPECT_EQ(controller.alarms().back(),
        alarm("t1/main/snooze", pressedAt + fiveMinutes, "Stretch", "digital", "t1/main", "alarm"));
    EXPECT_EQ(controller.alarms().size(), 3u);
    EXPECT_EQ(storedAlarms(), controller.alarms());
    EXPECT_FALSE(controller.active());
    EXPECT_FALSE(controller.hasPlayer());
    EXPECT_FALSE(controller.hasAlarmPanel());
    EXPECT_TRUE(platform.openPanels().empty());
    EXPECT_FALSE(platform.playingSound());

    platform.advance(fiveMinutes + 1000);
    ASSERT_TRUE(controller.active());
    ASSERT_EQ(controller.active()->key, "t1/main/snooze");
    pressedAt = platform.nowMs();
    openPanel()->content.onSnooze();
    EXPECT_EQ(countKey("t1/main/snooze"), 1);
    EXPECT_EQ(controller.alarms().back(),
        alarm("t1/main/snooze", pressedAt + fiveMinutes, "Stretch", "digital", "t1/main", "alarm"));
    EXPECT_EQ(storedAlarms(), controller.alarms());
}

// The removal goes by key alone: a record of the page that happens to carry the snooze key
// goes, whatever its time, and so does one whose key is the same text in decomposed form.
TEST_F(AlarmSnooze, RemovesEveryRecordWithTheSnoozeKey)
{
    double start = platform.nowMs();
    std::string composed = "caf\u00e9";
    std::string decomposed = "cafe\u0301";
    ringAtLaunch(
        { alarm(decomposed + "/snooze", start + 7'200'000, "From the page"), alarm(composed, start, "Coffee"),
            alarm(composed + "/snooze", start + 9'000'000, "Also from the page"),
            alarm("other", start + 60'000, "Other") });

    openPanel()->content.onSnooze();

    ASSERT_EQ(controller.alarms().size(), 3u);
    EXPECT_EQ(controller.alarms()[0].key, composed);
    EXPECT_EQ(controller.alarms()[1].key, "other");
    EXPECT_EQ(controller.alarms()[2].key, composed + "/snooze");
    EXPECT_EQ(controller.alarms()[2].title, "Coffee");
}

TEST_F(AlarmSnooze, TwoAlarmsSnoozedInTurnLeaveTwoSnoozesAndKeepTheBaseKeyThePageGave)
{
    double start = platform.nowMs();
    ringAtLaunch({ alarm("a", start, "A"),
        alarm("t3/extra", start + 10'000, "Water the plants", "chime", "t3/base") });
    openPanel()->content.onSnooze();
    platform.advance(10'000);
    ASSERT_EQ(controller.active()->key, "t3/extra");
    openPanel()->content.onSnooze();

    EXPECT_EQ(countKey("a/snooze"), 1);
    EXPECT_EQ(storedAlarms().size(), 4u);
    Alarm const& snooze = controller.alarms().back();
    EXPECT_EQ(snooze.key, "t3/base/snooze");
    EXPECT_EQ(snooze.baseKey, "t3/base");
    EXPECT_EQ(snooze.title, "Water the plants");
    EXPECT_EQ(snooze.sound, "chime");
}

TEST_F(AlarmSnooze, WithNothingRingingOnlyStops)
{
    double start = platform.nowMs();
    launchWith({ alarm("later", start + 60'000, "Later") });
    platform.advance(1000);
    controller.play("chime", false);
    int writes = platform.writeCount;
    auto before = controller.alarms();

    controller.snoozeAlarm();

    EXPECT_EQ(controller.alarms(), before);
    EXPECT_EQ(platform.writeCount, writes);
    // The preview that was playing is stopped all the same.
    EXPECT_FALSE(platform.playingSound());
    EXPECT_FALSE(controller.hasPlayer());
}

// A store that cannot be written loses nothing in memory: the snooze rings on time anyway.
TEST_F(AlarmSnooze, RingsOnTimeEvenWhenTheStoreCannotBeWritten)
{
    ringAtLaunch({ alarm("t1", platform.nowMs(), "Unsaved") });
    platform.failAllWrites = true;
    openPanel()->content.onSnooze();
    EXPECT_EQ(controller.alarms().back().key, "t1/snooze");

    platform.advance(fiveMinutes);
    ASSERT_TRUE(controller.active());
    EXPECT_EQ(controller.active()->key, "t1/snooze");
}

} // namespace

} // namespace brindle::testing
