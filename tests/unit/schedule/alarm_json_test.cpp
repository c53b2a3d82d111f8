#include "schedule/alarm_json.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace brindle {
namespace {

Alarm sample(std::string key, double at)
{
    return { std::move(key), at, "Stand-up", "chime", "alarm", std::nullopt };
}

TEST(AlarmJson, ReadsEveryMemberWhateverTheirOrderAndIgnoresOthers)
{
    auto alarms = decodeAlarmsJson(R"([
        {"mode": "alarm", "sound": "bell", "title": "Tea \u00e9 \/ ok", "at": 1765000000000, "key": "t1/a",
         "extra": {"deep": [1, 2, {"x": null}]}, "Key": 5},
        {"key": "t2", "at": 1765000000000.5, "title": "", "sound": "", "mode": "", "baseKey": "t2"},
        {"key": "t3", "at": 1.5e12, "title": "x", "sound": "x", "mode": "x", "baseKey": null}
    ])");
    ASSERT_TRUE(alarms);
    ASSERT_EQ(alarms->size(), 3u);
    EXPECT_EQ(
        (*alarms)[0], (Alarm { "t1/a", 1765000000000.0, "Tea \u00e9 / ok", "bell", "alarm", std::nullopt }));
    EXPECT_EQ((*alarms)[1], (Alarm { "t2", 1765000000000.5, "", "", "", "t2" }));
    EXPECT_EQ((*alarms)[2].at, 1.5e12);
    EXPECT_FALSE((*alarms)[2].baseKey);
}

TEST(AlarmJson, OneBadMemberFailsTheWholeList)
{
    std::string const good = R"({"key":"a","at":1,"title":"t","sound":"s","mode":"m"})";
    struct Case {
        char const* name;
        std::string element;
    };
    std::vector<Case> const cases {
        { "string at", R"({"key":"b","at":"1765000000000","title":"t","sound":"s","mode":"m"})" },
        { "missing mode", R"({"key":"b","at":1,"title":"t","sound":"s"})" },
        { "missing key", R"({"at":1,"title":"t","sound":"s","mode":"m"})" },
        { "null title", R"({"key":"b","at":1,"title":null,"sound":"s","mode":"m"})" },
        { "null at", R"({"key":"b","at":null,"title":"t","sound":"s","mode":"m"})" },
        { "numeric key", R"({"key":7,"at":1,"title":"t","sound":"s","mode":"m"})" },
        { "boolean sound", R"({"key":"b","at":1,"title":"t","sound":true,"mode":"m"})" },
        { "numeric baseKey", R"({"key":"b","at":1,"title":"t","sound":"s","mode":"m","baseKey":3})" },
        { "object baseKey", R"({"key":"b","at":1,"title":"t","sound":"s","mode":"m","baseKey":{}})" },
        { "key with other case", R"({"KEY":"b","at":1,"title":"t","sound":"s","mode":"m"})" },
        { "not an object", R"(["b",1,"t","s","m"])" },
        { "null element", "null" },
    };
    ASSERT_TRUE(decodeAlarmsJson("[" + good + "," + good + "]"));
    for (auto const& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_FALSE(decodeAlarmsJson("[" + good + "," + test.element + "]"));
    }
}

TEST(AlarmJson, RefusesTextThatIsNotAListOfAlarmsWithoutRecursing)
{
    for (std::string_view text : { "", " ", "{}", "null", "\"[]\"", "[", "[] []", "[],", "[1,]", "NaN" })
        EXPECT_FALSE(decodeAlarmsJson(text)) << text;
    EXPECT_FALSE(decodeAlarmsJson(std::string_view("[]\0", 3)));
    // A time too large for a double has no value Brindle could schedule.
    EXPECT_FALSE(decodeAlarmsJson(R"([{"key":"a","at":1e400,"title":"t","sound":"s","mode":"m"}])"));

    auto empty = decodeAlarmsJson(" [ ] ");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    // Invalid UTF-8 anywhere in the text, also inside a member that is otherwise ignored.
    std::string const before = R"([{"key":"a","at":1,"title":")";
    std::string const after = R"(","sound":"s","mode":"m"}])";
    ASSERT_TRUE(decodeAlarmsJson(before + "caf\xc3\xa9" + after));
    for (std::string bad : { "\xff", "caf\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80" })
        EXPECT_FALSE(decodeAlarmsJson(before + bad + after)) << bad;
    EXPECT_FALSE(decodeAlarmsJson(R"([{"key":"a","at":1,"title":"t","sound":"s","mode":"m","x":")"
                                  "\xfe"
                                  R"("}])"));

    // An extra member nested deeper than any call stack is ignored; unbalanced, it is an error.
    constexpr int depth = 100000;
    std::string text = R"([{"key":"a","at":1,"title":"t","sound":"s","mode":"m","x":)";
    text += std::string(depth, '[') + std::string(depth, ']') + "}]";
    auto alarms = decodeAlarmsJson(text);
    ASSERT_TRUE(alarms);
    EXPECT_EQ(alarms->size(), 1u);
    EXPECT_FALSE(decodeAlarmsJson(std::string(depth, '[')));
}

TEST(AlarmJson, WritesCompactMembersInOrderAndLeavesAnAbsentBaseKeyOut)
{
    std::vector<Alarm> alarms {
        { "t1/a", 1765000000000.0, "Tea \"time\" \\ /\n", "bell", "alarm", std::nullopt },
        { "t1/a/snooze", 1765000000000.25, "caf\u00e9", "chime", "reminder", "t1/a" },
    };
    EXPECT_EQ(encodeAlarmsJson(alarms),
        R"([{"key":"t1/a","at":1765000000000,"title":"Tea \"time\" \\ /\n","sound":"bell","mode":"alarm"},)"
        R"({"key":"t1/a/snooze","at":1765000000000.25,"title":"caf)"
        "\u00e9"
        R"(","sound":"chime","mode":"reminder","baseKey":"t1/a"}])");
    EXPECT_EQ(encodeAlarmsJson({}), "[]");
}

TEST(AlarmJson, EveryFiniteTimeSurvivesAWriteAndAReadExactly)
{
    std::vector<double> times { 1765000000000.0, 1765000000000.5, 1765000000000.1, 0.1 + 0.2, 1e-300, 5e-324,
        -0.0, -1765000000000.75, 1e21, 1.7976931348623157e308, 9007199254740993.0, 123456789012.345678 };
    std::mt19937_64 random(20261206);
    for (int i = 0; i < 2000; ++i) {
        double at = std::bit_cast<double>(random());
        if (std::isfinite(at))
            times.push_back(at);
        // Times near today with random fractions, the values the page actually sends.
        times.push_back(1765000000000.0 + std::ldexp(static_cast<double>(random() >> 11), -40));
    }

    std::vector<Alarm> alarms;
    for (double at : times)
        alarms.push_back(sample("k", at));
    auto decoded = decodeAlarmsJson(encodeAlarmsJson(alarms));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>((*decoded)[i].at), std::bit_cast<std::uint64_t>(times[i]))
            << "at " << times[i];
    }
}

TEST(AlarmJson, TextsSurviveAWriteAndAReadExactlyAndNonFiniteTimesAreNotWritten)
{
    std::vector<Alarm> alarms {
        { std::string("nul\0inside", 10), 1, "\x01\x1f\x7f", "\t\r\b\f", "\xf0\x9f\x94\x94", "\u2028\"" },
        { "", 2, "", "", "", "" },
    };
    auto decoded = decodeAlarmsJson(encodeAlarmsJson(alarms));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, alarms);

    // A time that JSON cannot hold fails the whole write.
    for (double at : { std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
             -std::numeric_limits<double>::infinity() })
        EXPECT_EQ(encodeAlarmsJson({ sample("a", 1), sample("b", at) }), "");
}

} // namespace
} // namespace brindle
