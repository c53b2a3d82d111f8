#include "bridge_fixture.h"
#include "schedule/alarm_json.h"

#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

class ScheduleRequest : public BridgeTest {
protected:
    std::string alarmJson(std::string const& key, double at,
        std::optional<std::string> baseKey = std::nullopt, std::string const& mode = "alarm")
    {
        std::string json = R"({"key":")" + key + R"(","at":)" + number(at)
            + R"(,"title":"T","sound":"bell","mode":")" + mode + "\"";
        if (baseKey)
            json += R"(,"baseKey":")" + *baseKey + "\"";
        return json + "}";
    }

    void schedule(std::string const& data, std::int64_t id = 1)
    {
        post(R"({"id":)" + std::to_string(id) + R"(,"method":"schedule","data":)" + data + "}");
    }

    std::vector<std::string> keys() const
    {
        std::vector<std::string> all;
        for (auto const& alarm : controller.alarms())
            all.push_back(alarm.key);
        return all;
    }

    void expectDone(std::int64_t id = 1)
    {
        auto reply = onlyReply();
        EXPECT_EQ(reply.id, id);
        EXPECT_EQ(reply.value, ReplyValue(true));
        EXPECT_EQ(reply.error, std::nullopt);
    }

    double now() { return platform.nowMs(); }
};

TEST_F(ScheduleRequest, ReplacesTheAlarmsInThePagesOrderAndSavesThem)
{
    launch();
    schedule("{\"alarms\":[" + alarmJson("b/1", now() + 5000, std::nullopt, "reminder") + ","
        + alarmJson("a/1", now() + 1000) + "]}");
    expectDone();
    EXPECT_EQ(keys(), (std::vector<std::string> { "b/1", "a/1" }));
    auto stored = storedFile();
    ASSERT_TRUE(stored);
    EXPECT_EQ(decodeAlarmsJson(*stored), controller.alarms());
    EXPECT_TRUE(controller.hasActivity()) << "saving brings the keep-awake activity up to date";
}

TEST_F(ScheduleRequest, KeepsOnlyFutureRecordsWithABaseKeyOfAListedTask)
{
    std::string const composed = "caf\xC3\xA9";
    std::string const decomposed = "cafe\xCC\x81";
    launch("[" + alarmJson("t3/x/snooze", now() + 2, "t3/x") + "," // kept
        + alarmJson("t1/plain", now() + 60000) + "," // no base key
        + alarmJson("t2/snooze", now() + 60000, "t2") + "," // task not listed
        + alarmJson("t1/due/snooze", now(), "t1/due") + "," // due this very millisecond
        + alarmJson("t1/past/snooze", now() - 1, "t1/past") + "," // in the past
        + alarmJson("other/snooze", now() + 60000, "/t1/y") + "," // kept: the base key decides
        + alarmJson(composed + "/snooze", now() + 60000, composed) + "," // kept: same task, other spelling
        + alarmJson("t1/a", now() + 60000) + "]");

    schedule("{\"alarms\":[" + alarmJson("t1/a", now() + 60000) + "," + alarmJson("t3/b", now() + 90000)
        + "],\"taskIds\":[\"t1\",\"t3\",\"" + decomposed + "\"]}");
    expectDone();
    EXPECT_EQ(keys(),
        (std::vector<std::string> { "t1/a", "t3/b", "t3/x/snooze", "other/snooze", composed + "/snooze" }));
    EXPECT_EQ(decodeAlarmsJson(*storedFile()), controller.alarms());
}

TEST_F(ScheduleRequest, ListsNoTaskWhenTaskIdsIsNotAnArrayOfStrings)
{
    for (std::string taskIds : { "", R"(,"taskIds":null)", R"(,"taskIds":"t1")", R"(,"taskIds":["t1",2])",
             R"(,"taskIds":[["t1"]])", R"(,"taskIds":{"0":"t1"})" }) {
        fake::FakePlatform freshPlatform;
        AppDelegate fresh(freshPlatform, testHost);
        freshPlatform.directories.insert("/home/test/.local/share/Brindle");
        freshPlatform.files[storePath] = "[" + alarmJson("t1/snooze", now() + 60000, "t1") + "]";
        fresh.applicationDidFinishLaunching();
        fresh.didReceiveScriptMessage({ true, "https", testHost,
            R"({"id":1,"method":"schedule","data":{"alarms":[])" + taskIds + "}}" });
        EXPECT_TRUE(fresh.alarms().empty()) << taskIds;
    }
}

TEST_F(ScheduleRequest, EmptyScheduleDropsEverySnoozeStopsTheRingingAndSaves)
{
    launchRinging("t1/a");
    int writes = platform.writeCount;
    schedule(R"({"alarms":[]})");
    expectDone();
    EXPECT_TRUE(controller.alarms().empty());
    EXPECT_FALSE(controller.active());
    EXPECT_EQ(platform.playingSound(), nullptr);
    EXPECT_GT(platform.writeCount, writes);
    EXPECT_EQ(storedFile(), "[]");
}

TEST_F(ScheduleRequest, StopsTheRingingAlarmOnlyWhenItsTaskIsNoLongerListed)
{
    launchRinging("/t1/a");
    schedule(R"({"alarms":[],"taskIds":["t1"]})", 1);
    EXPECT_TRUE(controller.active());
    EXPECT_NE(platform.playingSound(), nullptr);

    schedule(R"({"alarms":[],"taskIds":["t2"]})", 2);
    EXPECT_FALSE(controller.active());
    EXPECT_EQ(platform.playingSound(), nullptr);
    EXPECT_EQ(replies().size(), 2u);
}

TEST_F(ScheduleRequest, RefusesAnInvalidScheduleAndChangesNothing)
{
    for (std::string data :
        { R"(null)", R"({})", R"({"alarms":null})", R"({"alarms":{}})", R"({"alarms":"[]"})",
            R"({"alarms":[1]})", R"({"alarms":[[]]})",
            R"({"alarms":[{"key":"t1/b","at":1,"title":"T","sound":"bell","mode":"alarm"},)"
            R"({"key":"t1/c","at":1,"title":"T","sound":"bell"}]})",
            R"({"alarms":[{"key":"t1/b","at":"1","title":"T","sound":"bell","mode":"alarm"}]})",
            R"({"alarms":[{"key":"t1/b","at":1,"title":"T","sound":"bell","mode":"alarm","baseKey":3}]})" }) {
        fake::FakePlatform freshPlatform;
        AppDelegate fresh(freshPlatform, testHost);
        std::string const stored
            = "[" + alarmJson("t1/a", now()) + "," + alarmJson("t1/a/snooze", now() + 9000, "t1/a") + "]";
        freshPlatform.directories.insert("/home/test/.local/share/Brindle");
        freshPlatform.files[storePath] = stored;
        fresh.applicationDidFinishLaunching();
        freshPlatform.advance(1000);
        ASSERT_TRUE(fresh.active());
        auto alarmsBefore = fresh.alarms();
        auto storeBefore = freshPlatform.files[storePath];
        int writes = freshPlatform.writeCount;

        fresh.didReceiveScriptMessage(
            { true, "https", testHost, R"({"id":3,"method":"schedule","data":)" + data + "}" });
        auto const& scripts = freshPlatform.webViews.at(0)->evaluatedScripts;
        ASSERT_EQ(scripts.size(), 1u) << data;
        auto reply = parseReplyScript(scripts[0]);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->id, 3);
        EXPECT_EQ(reply->value, ReplyValue(true));
        EXPECT_EQ(reply->error, "Invalid alarm schedule") << data;
        EXPECT_EQ(fresh.alarms(), alarmsBefore) << data;
        EXPECT_EQ(freshPlatform.files[storePath], storeBefore) << data;
        EXPECT_EQ(freshPlatform.writeCount, writes) << data;
        EXPECT_TRUE(fresh.active()) << data;
    }
}

TEST_F(ScheduleRequest, StoresLoneSurrogatesAsReplacementCharacters)
{
    launch();
    schedule(
        R"({"alarms":[{"key":"t1/\udc00","at":1e13,"title":"a\ud800b","sound":"bell","mode":"alarm"}]})");
    expectDone();
    auto stored = decodeAlarmsJson(*storedFile());
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), 1u);
    EXPECT_EQ((*stored)[0].title,
        "a\xEF\xBF\xBD"
        "b");
    EXPECT_EQ((*stored)[0].key, "t1/\xEF\xBF\xBD");
}

TEST_F(ScheduleRequest, KeepsTextsThatCouldBreakAScriptUnchanged)
{
    launch();
    std::string const title
        = "He said \"stop\" \\ at </script>\n\r\t\xE2\x80\xA8\xE2\x80\xA9 \xF0\x9F\x98\x80";
    schedule(R"({"alarms":[{"key":"t1","at":1e13,"title":"He said \"stop\" \\ at </script>\n\r\t\u2028)"
             "\xE2\x80\xA9 \\ud83d\\ude00\",\"sound\":\"bell\",\"mode\":\"reminder\"}]}");
    expectDone();
    ASSERT_EQ(controller.alarms().size(), 1u);
    EXPECT_EQ(controller.alarms()[0].title, title);
    EXPECT_EQ(decodeAlarmsJson(*storedFile()), controller.alarms());
}

TEST_F(ScheduleRequest, LeavesTheFiredSetAlone)
{
    launchRinging("t1/a");
    auto fired = controller.fired().size();
    schedule("{\"alarms\":[" + alarmJson("t1/a", now() - 1000) + "],\"taskIds\":[\"t1\"]}");
    EXPECT_EQ(controller.fired().size(), fired);
}

} // namespace
} // namespace brindle::testing
