#include "bridge/reply.h"
#include "unit/fixture.h"

namespace brindle::testing {

using Dispatch = BrindleTest;
using namespace std::string_literals;

TEST_F(Dispatch, AnswersEachMethod)
{
    launch({ alarm("t1", now() + second, "alarm", "digital") });
    for (bool allowed : { true, false }) {
        platform.notificationsAllowed = allowed;
        post(R"({"id":1,"method":"permission"})");
    }
    for (bool granted : { true, false }) {
        platform.notificationsAllowed = granted;
        post(R"({"id":2,"method":"enable"})");
    }
    post(R"({"id":3,"method":"Stop"})");
    post(R"({"id":4,"method":"preview","data":{"sound":"chime"}})");
    EXPECT_FALSE(platform.playingSound()->looping) << "a preview plays once";
    post(R"({"id":5,"method":"stop"})");
    EXPECT_EQ(playing(), "");
    post(R"({"id":6,"method":"preview","data":{"sound":7}})");
    EXPECT_EQ(replies(),
        (std::vector<PageReply> { { 1, "granted"s, {} }, { 1, "denied"s, {} }, { 2, "granted"s, {} },
            { 2, "denied"s, {} }, { 3, true, "Unknown desktop request" }, { 4, true, {} }, { 5, true, {} },
            { 6, true, {} } }));

    platform.advance(second);
    post(R"({"id":8,"method":"preview","data":{"sound":"chime"}})");
    EXPECT_EQ(playing(), "/resources/digital.wav");
    post(R"({"id":9,"method":"stop"})");
    EXPECT_EQ(ringing(), "");
    EXPECT_EQ(playing(), "");
}

TEST_F(Dispatch, ScheduleKeepsOnlyPendingSnoozesOfListedTasks)
{
    double const t = now();
    launch({ alarm("t3/x/snooze", t + 2, "alarm", "bell", "t3/x"), alarm("t1/plain", t + minute),
        alarm("t2/snooze", t + minute, "alarm", "bell", "t2"),
        alarm("t1/due/snooze", t, "alarm", "bell", "t1/due"),
        alarm("other/snooze", t + minute, "alarm", "bell", "/t1/y"),
        alarm("cafe\u0301/snooze", t + minute, "alarm", "bell", "cafe\u0301") });
    schedule({ alarm("t1/a", t + minute), alarm("t3/b", t + hour) }, R"(,"taskIds":["t1","t3","caf\u00e9"])");
    EXPECT_EQ(replies(), (std::vector<PageReply> { { 1, true, {} } }));
    EXPECT_EQ(keys(),
        (std::vector<std::string> { "t1/a", "t3/b", "t3/x/snooze", "other/snooze", "cafe\u0301/snooze" }));
    EXPECT_EQ(stored(), controller->schedule().alarms());

    // A page that sends a base key of its own gets its record once, however often it sends it.
    for (int times = 0; times < 3; ++times)
        schedule(
            { alarm("b1/main", t + minute, "reminder", "bell", "b1/main"), alarm("t1/snooze", t + hour) },
            R"(,"taskIds":["b1","t1"])");
    EXPECT_EQ(keys(), (std::vector<std::string> { "b1/main", "t1/snooze", "other/snooze" }));

    for (std::string taskIds : { "", R"(,"taskIds":"t3")", R"(,"taskIds":["t3",2])" }) {
        launch({ alarm("t3/snooze", t + minute, "alarm", "bell", "t3") });
        schedule({}, taskIds);
        EXPECT_TRUE(controller->schedule().alarms().empty()) << taskIds;
    }
}

TEST_F(Dispatch, ScheduleStopsTheRingingAlarmOnlyWhenItsTaskIsGone)
{
    launch({ alarm("/t1/a", now()) });
    platform.advance(second);
    auto const fired = controller->schedule().fired().size();
    schedule({}, R"(,"taskIds":["t1"])");
    EXPECT_EQ(ringing(), "/t1/a");
    schedule({});
    EXPECT_EQ(ringing(), "");
    EXPECT_EQ(controller->schedule().fired().size(), fired);
}

TEST_F(Dispatch, AnInvalidScheduleIsRefusedAndChangesNothing)
{
    launch({ alarm("t1/a", now() + minute) });
    auto const before = platform.files[storePath];
    for (std::string data : { "null", "{}", R"({"alarms":{}})", R"({"alarms":[1]})",
             R"({"alarms":[{"key":"t1/b","at":"1","title":"T","sound":"bell","mode":"alarm"}]})" })
        post(R"({"id":2,"method":"schedule","data":)" + data + "}");
    EXPECT_EQ(replies(), std::vector<PageReply>(5, PageReply { 2, true, "Invalid alarm schedule" }));
    EXPECT_EQ(keys(), std::vector<std::string> { "t1/a" });
    EXPECT_EQ(platform.files[storePath], before);
}

// No text may end the reply script early, and text that is not UTF-8 is not sent at all.
TEST(ReplyScript, CarriesIdsValuesAndErrorsUnchanged)
{
    std::string const text = "quote \" backslash \\ newline \n return \r nul " + std::string(1, '\0')
        + " ls \xE2\x80\xA8 ps \xE2\x80\xA9 </script> caf\xC3\xA9 \xF0\x9F\x98\x80 ');})()//";
    EXPECT_EQ(parseReply(replyScript(7, true, std::nullopt).value()), (PageReply { 7, true, std::nullopt }));
    EXPECT_EQ(parseReply(replyScript(INT64_MIN, text, text).value()), (PageReply { INT64_MIN, text, text }));
    EXPECT_FALSE(replyScript(1, std::string("ok"), std::string("bad \xC3(")));
    EXPECT_FALSE(replyScript(2, std::string("\xED\xA0\x80"), std::nullopt));
}

} // namespace brindle::testing
