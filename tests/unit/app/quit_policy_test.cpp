#include "app_fixture.h"

namespace brindle::testing {

namespace {

class QuitPolicy : public AppTest {
protected:
    // Asks to quit and reports whether Brindle agreed; the alert, if any, is in platform.alerts.
    bool quit() { return controller.applicationShouldTerminate(); }
};

// Only alarms that ring make quitting costly; reminders, modes that merely look like "alarm",
// alarms whose time has come (including the one at this very millisecond) and the alarm that is
// ringing do not.
TEST_F(QuitPolicy, QuitsAtOnceWithoutAnAlarmStrictlyAhead)
{
    launchWith({
        reminder("r1", now() + hour),
        alarm("capital", now() + hour, "Alarm"),
        alarm("empty-mode", now() + hour, ""),
        alarm("spaced", now() + hour, "alarm "),
        alarm("past", now() - 10 * minute),
        alarm("exactly-now", now()),
        alarm("ringing", now() + 500),
    });
    platform.advance(second);
    ASSERT_TRUE(controller.active());
    EXPECT_TRUE(quit());
    EXPECT_TRUE(platform.alerts.empty());
}

TEST_F(QuitPolicy, AsksWhenAnAlarmLiesAheadAnywhereInTheList)
{
    launchWith({ reminder("r1", now() + hour), alarm("past", now() - minute), alarm("later", now() + 1) });
    quit();

    ASSERT_EQ(platform.alerts.size(), 1u);
    auto const& question = platform.alerts.front();
    EXPECT_EQ(question.messageText, "Quit Brindle?");
    EXPECT_EQ(question.informativeText,
        "Ringing alarms cannot sound while Brindle is quit. Close the window to keep alarms running.");
    EXPECT_EQ(question.buttons, (std::vector<std::string> { "Keep running", "Quit" }));
}

// Snoozing turns the ringing alarm, which did not count, into one five minutes ahead, which does.
TEST_F(QuitPolicy, APendingSnoozeCounts)
{
    launchWith({ alarm("t1/main", now() + 500) });
    platform.advance(second);
    controller.snoozeAlarm();
    quit();
    EXPECT_EQ(platform.alerts.size(), 1u);
}

// Only the second button quits, and quitting saves nothing: the store was written when the
// schedule last changed. Any other answer keeps Brindle as it was, ringing alarm included.
TEST_F(QuitPolicy, OnlyTheSecondButtonQuitsAndNoAnswerChangesAnything)
{
    launchWith({ alarm("ringing", now() + 500), alarm("later", now() + hour) });
    platform.advance(second);
    auto alarmsBefore = controller.alarms();
    auto firedBefore = controller.fired().mostRecent(controller.fired().size());
    int writesBefore = platform.writeCount;
    for (int answer :
        { alertFirstButtonReturn, alertSecondButtonReturn + 1, -1, 0, alertSecondButtonReturn }) {
        platform.answerAlert = [answer](AlertQuestion const&) { return answer; };
        EXPECT_EQ(quit(), answer == alertSecondButtonReturn) << "answer " << answer;
        EXPECT_EQ(controller.alarms(), alarmsBefore);
        EXPECT_EQ(controller.fired().mostRecent(controller.fired().size()), firedBefore);
        EXPECT_EQ(platform.writeCount, writesBefore);
        ASSERT_TRUE(controller.active());
        EXPECT_EQ(controller.active()->key, "ringing");
        EXPECT_TRUE(platform.playingSound());
        EXPECT_EQ(platform.openPanels().size(), 1u);
    }
}

// The question waits for the user, but the schedule does not: passes go on while it is up, so a
// reminder is posted and an alarm rings in the meantime.
TEST_F(QuitPolicy, DeliveriesGoOnWhileTheQuestionIsUp)
{
    launchWith(
        { alarm("later", now() + hour), reminder("soon", now() + 1500), alarm("wake-up", now() + 2500) });
    bool reminderDuringQuestion = false;
    bool ringingDuringQuestion = false;
    platform.answerAlert = [&](AlertQuestion const&) {
        platform.advance(4 * second);
        reminderDuringQuestion = notifiedKeys() == std::vector<std::string> { "soon" };
        ringingDuringQuestion = controller.active() && controller.active()->key == "wake-up"
            && platform.openPanels().size() == 1;
        return alertFirstButtonReturn;
    };

    EXPECT_FALSE(quit());
    EXPECT_TRUE(reminderDuringQuestion);
    EXPECT_TRUE(ringingDuringQuestion);
    EXPECT_EQ(controller.fired().size(), 2u);
}

// The automatic stop would silence an alarm behind a dialog the user is reading; it waits for the
// question to close and then stops the alarm at once.
TEST_F(QuitPolicy, TheSafetyStopWaitsForTheQuestion)
{
    launchWith({ alarm("ringing", now() + 500), alarm("later", now() + hour) });
    platform.advance(second);
    platform.advance(598 * second);
    ASSERT_TRUE(controller.active());

    bool ringingThroughout = false;
    platform.answerAlert = [&](AlertQuestion const&) {
        platform.advance(10 * second);
        ringingThroughout = controller.active().has_value() && platform.playingSound() != nullptr;
        return alertFirstButtonReturn;
    };
    quit();

    EXPECT_TRUE(ringingThroughout);
    EXPECT_FALSE(controller.active());
    EXPECT_FALSE(platform.playingSound());
    EXPECT_TRUE(platform.openPanels().empty());
}

} // namespace

} // namespace brindle::testing
