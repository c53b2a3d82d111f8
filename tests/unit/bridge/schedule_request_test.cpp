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

    // A separate launched controller over the given store, for cases that each need a fresh one.
    struct Fresh {
        fake::FakePlatform platform;
        AppDelegate controller { platform, testHost };
        Fresh(std::string const& store, std::string const& data)
        {
            platform.directories.insert("/home/test/.local/share/Brindle");
            platform.files[storePath] = store;
            controller.applicationDidFinishLaunching();
            platform.advance(1000);
            before = controller.alarms();
            writes = platform.writeCount;
            controller.didReceiveScriptMessage(
                { true, "https", testHost, R"({"id":3,"method":"schedule","data":)" + data + "}" });
        }
        std::vector<Alarm> before;
        int writes = 0;
    };
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
        Fresh fresh(
            "[" + alarmJson("t1/snooze", now() + 60000, "t1") + "]", R"({"alarms":[])" + taskIds + "}");
        EXPECT_TRUE(fresh.controller.alarms().empty()) << taskIds;
    }
}

TEST_F(ScheduleRequest, StopsTheRingingAlarmOnlyWhenItsTaskIsNoLongerListed)
{
    launchRinging("/t1/a");
    schedule(R"({"alarms":[],"taskIds":["t1"]})", 1);
    EXPECT_TRUE(controller.active());
    EXPECT_NE(platform.playingSound(), nullptr);

    // An empty schedule that lists no task drops every snooze, stops the ringing and saves.
    int writes = platform.writeCount;
    schedule(R"({"alarms":[]})", 2);
    EXPECT_TRUE(controller.alarms().empty());
    EXPECT_FALSE(controller.active());
    EXPECT_EQ(platform.playingSound(), nullptr);
    EXPECT_GT(platform.writeCount, writes);
    EXPECT_EQ(storedFile(), "[]");
    for (auto const& reply : replies())
        EXPECT_TRUE(reply.value == ReplyValue(true) && !reply.error);
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
        std::string const stored
            = "[" + alarmJson("t1/a", now()) + "," + alarmJson("t1/a/snooze", now() + 9000, "t1/a") + "]";
        Fresh fresh(stored, data);
        auto const& scripts = fresh.platform.webViews.at(0)->evaluatedScripts;
        ASSERT_EQ(scripts.size(), 1u) << data;
        auto reply = parseReplyScript(scripts[0]);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->id, 3);
        EXPECT_EQ(reply->value, ReplyValue(true));
        EXPECT_EQ(reply->error, "Invalid alarm schedule") << data;
        EXPECT_EQ(fresh.controller.alarms(), fresh.before) << data;
        EXPECT_EQ(fresh.platform.files[storePath], stored) << data;
        EXPECT_EQ(fresh.platform.writeCount, fresh.writes) << data;
        EXPECT_TRUE(fresh.controller.active()) << data;
    }
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
