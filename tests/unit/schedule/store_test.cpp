#include "unit/fixture.h"

namespace brindle::testing {

using Store = BrindleTest;

TEST_F(Store, AnythingButAWholeListOfAlarmsLoadsAsAnEmptySchedule)
{
    std::string const good = R"({"key":"a","at":1,"title":"t","sound":"s","mode":"m"})";
    for (std::string content : { std::string(""), std::string("{}"), R"({"alarms":[)" + good + "]}",
             "[" + good + R"(,{"key":"b","at":1,"title":"t","sound":"s"}])", "[" + good + "] trailing" }) {
        platform.files[storePath] = content;
        controller.emplace(platform, AppSettings { "localhost", "", "Brindle" });
        controller->schedule().load();
        EXPECT_TRUE(controller->schedule().alarms().empty()) << content;
        EXPECT_EQ(platform.files[storePath], content) << "the bad file stays until the next save";
    }
    platform.files[storePath] = "[" + good + "]";
    controller->schedule().load();
    EXPECT_EQ(keys(), std::vector<std::string> { "a" });
}

TEST_F(Store, SavesTheListWholeOrLeavesTheOldFile)
{
    launch({ alarm("t1", now() + minute) });
    platform.failingWrites.insert(storePath);
    schedule({});
    EXPECT_TRUE(controller->schedule().alarms().empty());
    EXPECT_EQ(stored(), std::vector<Alarm> { alarm("t1", now() + minute) });
    platform.failingWrites.clear();
    schedule({});
    EXPECT_EQ(platform.files[storePath], "[]");
}

TEST(FiredSet, MatchesCanonicallyAndKeepsDeliveryOrder)
{
    FiredSet fired;
    for (auto key : { "caf\u00e9", "cafe\u0301", "c", "a", "b", "a" })
        fired.insert(key);
    EXPECT_TRUE(fired.contains("cafe\u0301") && fired.size() == 4u) << fired.size();
    EXPECT_EQ(fired.mostRecent(3), (std::vector<std::string> { "c", "a", "b" }));
}

TEST(FiredDefaults, ReadsOnlyAnArrayOfTextsAndRewritesOnlyThatMember)
{
    for (std::string_view text : { "[]", "{}", R"({"fired":"a"})", R"({"fired":["a",1]})" })
        EXPECT_FALSE(readFiredDefaults(text)) << text;
    std::string const deep = std::string(100000, '[') + "{\"n\":1.50}" + std::string(100000, ']');
    auto const written = writeFiredDefaults(R"({"fired":3,"deep":)" + deep + "}", { "k1.0" });
    EXPECT_TRUE(written == R"({"deep":)" + deep + R"(,"fired":["k1.0"]})") << written.substr(100000, 40);
}

} // namespace brindle::testing
