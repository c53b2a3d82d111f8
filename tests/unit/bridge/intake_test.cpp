#include "bridge/bridge_request.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace brindle {
namespace {

constexpr char const* host = "planner.example";

std::optional<BridgeRequest> intake(std::string body)
{
    return readRequest({ true, "https", host, std::move(body) }, host);
}

std::optional<std::int64_t> idOf(std::string const& idJson)
{
    auto request = intake(R"({"id":)" + idJson + R"(,"method":"stop"})");
    return request ? std::optional(request->id) : std::nullopt;
}

TEST(Intake, AcceptsOnlyTheMainFrameOfTheSecurePlannerOrigin)
{
    auto request = intake(R"({"id":4,"method":"preview","data":{"sound":"chime"}})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->id, 4);
    EXPECT_EQ(request->method, "preview");
    // The data must stay valid when the request is moved.
    BridgeRequest moved = std::move(*request);
    EXPECT_STREQ(moved.data()["sound"].GetString(), "chime");

    std::string const body = R"({"id":1,"method":"stop"})";
    EXPECT_FALSE(readRequest({ false, "https", host, body }, host)) << "a subframe";
    for (std::string scheme : { "http", "HTTPS", "https:", "" })
        EXPECT_FALSE(readRequest({ true, scheme, host, body }, host)) << scheme;
    for (std::string other :
        { "evil.example", "Planner.example", "sub.planner.example", "planner.example.evil", "" })
        EXPECT_FALSE(readRequest({ true, "https", other, body }, host)) << other;
    EXPECT_TRUE(readRequest({ true, "https", "cafe\xCC\x81.example", body }, "caf\xC3\xA9.example"))
        << "hosts compare up to canonical equivalence";
}

TEST(Intake, DropsBodiesThatAreNotJsonObjectsWithAStringMethod)
{
    for (std::string body : { "", "not json", "[]", R"("text")", "null", "1", R"({"id":1,"method":"stop"} x)",
             R"({"id":1,"method":"stop")", "{\"id\":1,\"method\":\"st\xFFop\"}", R"({'id':1})", R"({"id":1})",
             R"({"id":1,"method":null})", R"({"id":1,"method":5})", R"({"id":1,"method":["stop"]})",
             R"({"method":"stop"})", R"({"id":2,"id":1.5,"method":"stop"})" })
        EXPECT_FALSE(intake(body)) << body;
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
             "9223372036854775808.0", "9.3e18", "-9.3e18", "18446744073709551616", "1e300", "-1e300" })
        EXPECT_EQ(idOf(id), std::nullopt) << id;
}

TEST(Intake, ReadsMethodAndDataLeniently)
{
    EXPECT_EQ(intake(R"({"id":1,"method":""})")->method, "");
    EXPECT_EQ(intake(R"({"id":1,"method":"stop\u0000x"})")->method, std::string("stop\0x", 6));
    EXPECT_EQ(intake(R"({"id":1,"method":"a\ud800b\udfffc"})")->method,
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD"
        "c");

    for (std::string data : { "", R"(,"data":null)", R"(,"data":[1,2])", R"(,"data":"x")", R"(,"data":0)" }) {
        auto request = intake(R"({"id":1,"method":"stop")" + data + "}");
        ASSERT_TRUE(request) << data;
        EXPECT_TRUE(request->data().IsObject() && request->data().MemberCount() == 0) << data;
    }

    // A name given twice counts with its last value.
    auto twice
        = intake(R"({"id":"x","id":2,"method":5,"method":"stop","data":{"a":1},"data":{"sound":"bell"}})");
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->id, 2);
    EXPECT_EQ(twice->method, "stop");
    EXPECT_FALSE(twice->data().HasMember("a"));
}

TEST(Intake, SurvivesDeepNestingWithoutRecursion)
{
    std::string const depth(200'000, '[');
    auto arrays = intake(R"({"id":1,"method":"stop","data":)" + depth + std::string(200'000, ']') + "}");
    ASSERT_TRUE(arrays);
    EXPECT_EQ(arrays->data().MemberCount(), 0u);

    std::string objects;
    for (int level = 0; level < 100'000; ++level)
        objects += R"({"a":)";
    EXPECT_TRUE(
        intake(R"({"id":1,"method":"stop","data":)" + objects + "1" + std::string(100'000, '}') + "}"));
    EXPECT_FALSE(intake(R"({"id":1,"method":"stop","data":)" + depth));
}

TEST(Intake, MendsLoneSurrogateEscapesAndNothingElse)
{
    for (auto const& [in, out] : std::initializer_list<std::pair<std::string, std::string>> {
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
         })
        EXPECT_EQ(mendLoneSurrogates(in), out) << in;
}

} // namespace
} // namespace brindle
