#include "bridge/bridge_request.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace brindle {
namespace {

constexpr char const* host = "planner.example";

ScriptMessage fromPlanner(std::string body)
{
    return { true, "https", host, std::move(body) };
}

std::optional<std::int64_t> idOf(std::string const& idJson)
{
    auto request = readRequest(fromPlanner(R"({"id":)" + idJson + R"(,"method":"stop"})"), host);
    if (!request)
        return std::nullopt;
    return request->id;
}

TEST(Intake, AcceptsTheMainFrameOfTheSecurePlannerOrigin)
{
    auto request = readRequest(fromPlanner(R"({"id":4,"method":"preview","data":{"sound":"chime"}})"), host);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->id, 4);
    EXPECT_EQ(request->method, "preview");
    ASSERT_TRUE(request->data().IsObject());
    EXPECT_STREQ(request->data()["sound"].GetString(), "chime");
}

TEST(Intake, DropsMessagesFromAnyOtherFrameOrOriginWhateverTheBody)
{
    std::string const body = R"({"id":1,"method":"stop"})";
    EXPECT_FALSE(readRequest({ false, "https", host, body }, host)) << "a subframe";
    EXPECT_FALSE(readRequest({ true, "http", host, body }, host));
    EXPECT_FALSE(readRequest({ true, "HTTPS", host, body }, host)) << "schemes compare with case";
    EXPECT_FALSE(readRequest({ true, "https:", host, body }, host));
    EXPECT_FALSE(readRequest({ true, "", host, body }, host));
    EXPECT_FALSE(readRequest({ true, "https", "evil.example", body }, host));
    EXPECT_FALSE(readRequest({ true, "https", "Planner.example", body }, host)) << "hosts compare with case";
    EXPECT_FALSE(readRequest({ true, "https", "sub.planner.example", body }, host));
    EXPECT_FALSE(readRequest({ true, "https", "planner.example.evil", body }, host));
    EXPECT_FALSE(readRequest({ true, "https", "", body }, host));
}

TEST(Intake, ComparesHostsUpToCanonicalEquivalence)
{
    std::string const composed = "caf\xC3\xA9.example";
    std::string const decomposed = "cafe\xCC\x81.example";
    EXPECT_TRUE(readRequest({ true, "https", decomposed, R"({"id":1,"method":"stop"})" }, composed));
}

TEST(Intake, DropsBodiesThatAreNotJsonObjects)
{
    for (std::string body : { "", "not json", "[]", R"("text")", "null", "1", R"({"id":1,"method":"stop"} x)",
             R"({"id":1,"method":"stop")", "{\"id\":1,\"method\":\"st\xFFop\"}", R"({'id':1})" }) {
        EXPECT_FALSE(readRequest(fromPlanner(body), host)) << body;
    }
}

TEST(Intake, TakesOnlyIdsThatAreWholeNumbersInTheSigned64BitRange)
{
    EXPECT_EQ(idOf("3"), 3);
    EXPECT_EQ(idOf("3.0"), 3) << "JavaScript numbers are doubles";
    EXPECT_EQ(idOf("1e2"), 100);
    EXPECT_EQ(idOf("-0.0"), 0);
    EXPECT_EQ(idOf("-7"), -7);
    EXPECT_EQ(idOf("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(idOf("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(idOf("-9223372036854775808.0"), std::numeric_limits<std::int64_t>::min());

    for (std::string id : { "1.5", "-0.5", "\"3\"", "null", "true", "{}", "[1]", "9223372036854775808",
             "9223372036854775808.0", "9.3e18", "-9.3e18", "18446744073709551616", "1e300", "-1e300" }) {
        EXPECT_EQ(idOf(id), std::nullopt) << id;
    }
    EXPECT_FALSE(readRequest(fromPlanner(R"({"method":"stop"})"), host)) << "no id";
}

TEST(Intake, TakesOnlyStringMethods)
{
    EXPECT_FALSE(readRequest(fromPlanner(R"({"id":1})"), host));
    EXPECT_FALSE(readRequest(fromPlanner(R"({"id":1,"method":null})"), host));
    EXPECT_FALSE(readRequest(fromPlanner(R"({"id":1,"method":5})"), host));
    EXPECT_FALSE(readRequest(fromPlanner(R"({"id":1,"method":["stop"]})"), host));

    auto empty = readRequest(fromPlanner(R"({"id":1,"method":""})"), host);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->method, "");

    // A method name may hold any character, NUL among them, and keeps all of it.
    auto withNul = readRequest(fromPlanner(R"({"id":1,"method":"stop\u0000x"})"), host);
    ASSERT_TRUE(withNul);
    EXPECT_EQ(withNul->method, std::string("stop\0x", 6));
}

TEST(Intake, ReadsDataThatIsNoObjectAsAnEmptyObject)
{
    for (std::string data : { "", R"(,"data":null)", R"(,"data":[1,2])", R"(,"data":"x")", R"(,"data":0)" }) {
        auto request = readRequest(fromPlanner(R"({"id":1,"method":"stop")" + data + "}"), host);
        ASSERT_TRUE(request) << data;
        EXPECT_TRUE(request->data().IsObject()) << data;
        EXPECT_EQ(request->data().MemberCount(), 0u) << data;
    }
}

TEST(Intake, ReadsANameGivenTwiceWithItsLastValue)
{
    auto request = readRequest(
        fromPlanner(R"({"id":"x","id":2,"method":5,"method":"stop","data":{"a":1},"data":{"sound":"bell"}})"),
        host);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->id, 2);
    EXPECT_EQ(request->method, "stop");
    EXPECT_FALSE(request->data().HasMember("a"));

    EXPECT_FALSE(readRequest(fromPlanner(R"({"id":2,"id":1.5,"method":"stop"})"), host));
}

TEST(Intake, KeepsDataValidWhenTheRequestIsMoved)
{
    auto request
        = readRequest(fromPlanner(R"({"data":{"sound":"digital"},"id":1,"method":"preview"})"), host);
    ASSERT_TRUE(request);
    BridgeRequest moved = std::move(*request);
    EXPECT_STREQ(moved.data()["sound"].GetString(), "digital");
}

TEST(Intake, SurvivesDeepNestingWithoutRecursion)
{
    std::string const depth(200'000, '[');
    auto arrays = readRequest(
        fromPlanner(R"({"id":1,"method":"stop","data":)" + depth + std::string(200'000, ']') + "}"), host);
    ASSERT_TRUE(arrays);
    EXPECT_EQ(arrays->data().MemberCount(), 0u);

    std::string objects;
    for (int level = 0; level < 100'000; ++level)
        objects += R"({"a":)";
    objects += "1" + std::string(100'000, '}');
    EXPECT_TRUE(readRequest(fromPlanner(R"({"id":1,"method":"stop","data":)" + objects + "}"), host));

    EXPECT_FALSE(readRequest(fromPlanner(R"({"id":1,"method":"stop","data":)" + depth), host));
}

TEST(Intake, MendsLoneSurrogateEscapesAndNothingElse)
{
    struct Case {
        std::string in;
        std::string out;
    };
    for (auto const& c : std::initializer_list<Case> {
             { R"("\ud800")", R"("\ufffd")" },
             { R"("\uDBFF!")", R"("\ufffd!")" },
             { R"("\udc00")", R"("\ufffd")" },
             { R"("\ud800\ud800\udc00")", R"("\ufffd\ud800\udc00")" },
             { R"("\ud83d\ude00")", R"("\ud83d\ude00")" },
             { R"("\udc00\ud800")", R"("\ufffd\ufffd")" },
             { R"("\ud800\u0041")", R"("\ufffd\u0041")" },
             { R"("\ud800\n")", R"("\ufffd\n")" },
             { R"("\\ud800")", R"("\\ud800")" },
             { R"("\\\ud800")", R"("\\\ufffd")" },
             { R"("\u00e9\uD7FF\uE000")", R"("\u00e9\uD7FF\uE000")" },
             { R"("\ud80")", R"("\ud80")" },
             { R"("\ud800)", R"("\ufffd)" },
             { R"(\)", R"(\)" },
             { "plain", "plain" },
         }) {
        EXPECT_EQ(mendLoneSurrogates(c.in), c.out) << c.in;
    }
}

TEST(Intake, ReadsLoneSurrogatesAsReplacementCharacters)
{
    auto request = readRequest(fromPlanner(R"({"id":1,"method":"a\ud800b\udfffc"})"), host);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method,
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD"
        "c");
}

} // namespace
} // namespace brindle
