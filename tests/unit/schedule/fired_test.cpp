#include "schedule/fired_key.h"
#include "schedule/fired_set.h"
#include "schedule_fixture.h"

#include <cmath>

namespace brindle::testing {
namespace {

std::string keyAt(double at, std::string key = "t1")
{
    return firedKey(Alarm { std::move(key), at, "", "", "", std::nullopt });
}

TEST(FiredKey, IsTheKeyFollowedByTheShortestPlainDecimalOfTheTimeNeverAnExponent)
{
    EXPECT_EQ(keyAt(1765000000000.0), "t11765000000000.0");
    EXPECT_EQ(keyAt(1765000000000.5), "t11765000000000.5");
    EXPECT_EQ(keyAt(1765000000000.25), "t11765000000000.25");
    EXPECT_EQ(keyAt(1765000000000.1), "t11765000000000.1");
    EXPECT_EQ(keyAt(999999999999.0), "t1999999999999.0");
    EXPECT_EQ(keyAt(0.0), "t10.0");
    EXPECT_EQ(keyAt(-1.5), "t1-1.5");
    EXPECT_EQ(keyAt(1765000000000.0, "t1/a/snooze"), "t1/a/snooze1765000000000.0");
    EXPECT_EQ(keyAt(1765000000000.0, ""), "1765000000000.0");

    // Never an exponent, and different times stay apart.
    EXPECT_EQ(keyAt(1e21), "t11000000000000000000000.0");
    EXPECT_EQ(keyAt(1e-7), "t10.0000001");
    EXPECT_EQ(keyAt(5e-324), "t10." + std::string(323, '0') + "5");
    EXPECT_EQ(keyAt(1.7976931348623157e308).size(), 2 + 309 + 2);

    std::vector<double> times { 1e21, 1e22, 1.0000000000000002e21, 1e-7, 1.0000000000000001e-7, 5e-324,
        1e-323, 1765000000000.0, std::nextafter(1765000000000.0, 2e12),
        std::nextafter(1765000000000.0, 0.0) };
    for (double at : times)
        EXPECT_EQ(keyAt(at).find_first_of("eE"), std::string::npos) << at;
    for (std::size_t i = 0; i < times.size(); ++i) {
        for (std::size_t j = i + 1; j < times.size(); ++j)
            EXPECT_NE(keyAt(times[i]), keyAt(times[j])) << times[i] << " and " << times[j];
    }
}

// Composed and decomposed spellings count as one key; the order is that of delivery, and a key
// added again keeps its place.
TEST(FiredSet, MatchesCanonicallyAndKeepsDeliveryOrder)
{
    FiredSet fired;
    fired.insert("caf\u00e9");
    EXPECT_TRUE(fired.contains("cafe\u0301"));
    fired.insert("cafe\u0301");
    EXPECT_EQ(fired.size(), 1u);
    EXPECT_FALSE(fired.contains("cafe"));
    EXPECT_FALSE(fired.contains("CAF\u00c9"));
    for (auto key : { "c", "a", "b", "a" })
        fired.insert(key);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired.mostRecent(3), (std::vector<std::string> { "c", "a", "b" }));
    EXPECT_EQ(fired.mostRecent(2), (std::vector<std::string> { "a", "b" }));
    EXPECT_TRUE(fired.mostRecent(0).empty());
}

TEST(FiredDefaults, ReadsOnlyAnArrayOfTextsAndRewritesOnlyThatMember)
{
    EXPECT_EQ(readFiredDefaults(R"({"fired":["a","b","a"],"other":1})"),
        (std::optional<std::vector<std::string>>({ "a", "b", "a" })));
    EXPECT_EQ(readFiredDefaults(R"({"fired":[]})"), std::optional(std::vector<std::string> {}));
    for (std::string_view text : { "", "[]", R"(["a"])", "{}", R"({"fired":"a"})", R"({"fired":["a",1]})",
             R"({"fired":["a",null]})", R"({"fired":{"0":"a"}})", "{\"fired\":[\"\xff\"]}" })
        EXPECT_FALSE(readFiredDefaults(text)) << text;

    // Rewriting keeps every other member as it was.
    std::vector<std::string> const keys { "k1.0", "k2.5" };
    EXPECT_EQ(writeFiredDefaults(
                  R"( {"a": 1.50, "fired": ["old", {"x": [1]}], "b": {"c": [true, null, "\u00e9", 1.0e2]},
        "fired": 3} )",
                  keys),
        R"({"a":1.50,"b":{"c":[true,null,")"
        "\u00e9"
        R"(",1.0e2]},"fired":["k1.0","k2.5"]})");
    EXPECT_EQ(writeFiredDefaults(std::nullopt, keys), R"({"fired":["k1.0","k2.5"]})");
    for (std::string_view unusable : { "", "[1]", "\"s\"", "3", "{", "{\"a\":1}x", "{\"a\":\"\xff\"}" })
        EXPECT_EQ(writeFiredDefaults(unusable, keys), R"({"fired":["k1.0","k2.5"]})") << unusable;

    // Other members nested far deeper than any call stack are carried over too.
    std::string deep = "{\"deep\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    auto rewritten = writeFiredDefaults(deep, keys);
    EXPECT_EQ(rewritten.size(), deep.size() + std::string(R"(,"fired":["k1.0","k2.5"])").size());
    EXPECT_EQ(readFiredDefaults(rewritten), std::optional(keys));
}

using FiredStoreTest = ScheduleTest;

TEST_F(FiredStoreTest, LoadsTheStoredKeysOrNoneWhenTheyAreMissingOrMalformed)
{
    controller->loadFired();
    EXPECT_EQ(controller->fired().size(), 0u);

    platform.files[defaultsPath] = R"({"fired":["t11.0","t11.0","t22.0"]})";
    controller->loadFired();
    EXPECT_EQ(controller->fired().size(), 2u);
    EXPECT_TRUE(controller->fired().contains("t22.0"));

    platform.files[defaultsPath] = R"({"fired":["t11.0",false]})";
    controller->loadFired();
    EXPECT_EQ(controller->fired().size(), 0u);

    platform.configDirectory.reset();
    controller->loadFired();
    EXPECT_EQ(controller->fired().size(), 0u);
}

TEST_F(FiredStoreTest, TheStoredListKeepsTheMostRecentDeliveriesAcrossRestarts)
{
    // 1100 keys delivered long ago, stored oldest first, most of which a set would iterate in
    // an order of its own.
    std::vector<std::string> old;
    for (int i = 0; i < 1100; ++i)
        old.push_back("old" + std::to_string(i) + ".0");
    platform.files[defaultsPath] = writeFiredDefaults(std::nullopt, old);
    controller->loadFired();
    ASSERT_EQ(controller->fired().size(), 1100u);

    // Five deliveries, in two passes.
    double const start = now();
    load({ alarm("a", start), alarm("b", start), alarm("c", start + 1000), alarm("d", start + 1000),
        alarm("e", start + 1000) });
    controller->tick();
    platform.setNow(start + 1000);
    controller->tick();
    ASSERT_EQ(platform.notifications.size(), 5u);
    EXPECT_EQ(controller->fired().size(), 1105u);

    auto stored = storedFired();
    ASSERT_EQ(stored.size(), storedFiredLimit);
    std::vector<std::string> expected(old.begin() + 81, old.end());
    for (auto [key, at] : { std::pair { "a", start }, { "b", start }, { "c", start + 1000 },
             { "d", start + 1000 }, { "e", start + 1000 } })
        expected.push_back(keyAt(at, key));
    EXPECT_EQ(stored, expected);

    // After a restart the order read back is the delivery order, so the next delivery drops the
    // oldest key again rather than any other.
    restart();
    load({ alarm("f", start + 2000) });
    platform.setNow(start + 2000);
    controller->tick();
    stored = storedFired();
    ASSERT_EQ(stored.size(), storedFiredLimit);
    expected.erase(expected.begin());
    expected.push_back(keyAt(start + 2000, "f"));
    EXPECT_EQ(stored, expected);
}

TEST_F(FiredStoreTest, StoringTheFiredListKeepsTheOtherDefaultsAndAFailureOnlyMattersAfterARestart)
{
    platform.files[defaultsPath] = R"({"window":{"x":10},"fired":["old1.0"]})";
    controller->loadFired();
    load({ alarm("t1", now()) });
    controller->tick();
    EXPECT_EQ(
        platform.files[defaultsPath], R"({"window":{"x":10},"fired":["old1.0",")" + keyAt(now()) + R"("]})");

    platform.files.erase(defaultsPath);
    restart();
    load({ alarm("t2", now()) });
    platform.failingWrites.insert(defaultsPath);
    controller->tick();
    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 2u);

    // The lost list means the record, still in its window, is delivered once more.
    restart();
    controller->tick();
    EXPECT_EQ(platform.notifications.size(), 3u);
}

} // namespace
} // namespace brindle::testing
