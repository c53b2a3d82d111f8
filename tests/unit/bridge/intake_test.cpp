#include "bridge/intake.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace brindle {

constexpr char const* host = "planner.example";

static std::optional<BridgeRequest> intake(std::string body)
{
    return readRequest({ true, "https", host, std::move(body) }, host);
}

TEST(Intake, AcceptsOnlyTheMainFrameOfTheSecurePlannerOrigin)
{
    auto request = intake(R"({"id":4,"method":"preview","data":{"sound":"chime"}})");
    ASSERT_TRUE(request);
    BridgeRequest moved = std::move(*request);
    EXPECT_EQ(moved.id, 4);
    EXPECT_STREQ(moved.data()["sound"].GetString(), "chime") << "the data outlives a move";

    std::string const body = R"({"id":1,"method":"stop"})";
    EXPECT_FALSE(readRequest({ false, "https", host, body }, host));
    for (std::string scheme : { "http", "HTTPS", "" })
        EXPECT_FALSE(readRequest({ true, scheme, host, body }, host)) << scheme;
    for (std::string other : { "Planner.example", "sub.planner.example", "planner.example.evil", "" })
        EXPECT_FALSE(readRequest({ true, "https", other, body }, host)) << other;
    EXPECT_TRUE(readRequest({ true, "https", "cafe\xCC\x81.example", body }, "caf\xC3\xA9.example"));
}

// An id may come as a double, as JavaScript sends it; a name given twice counts with its last value.
TEST(Intake, TakesOnlyObjectsWithAWholeNumberIdInRangeAndAStringMethod)
{
    for (std::string body : { "[]", R"({"id":1,"method":"stop"} x)", "{\"id\":1,\"method\":\"\xFF\"}",
             R"({"id":1,"method":5})", R"({"method":"stop"})", R"({"id":2,"id":1.5,"method":"stop"})" })
        EXPECT_FALSE(intake(body)) << body;
    for (auto [id, value] : std::initializer_list<std::pair<char const*, std::optional<std::int64_t>>> {
             { "3.0", 3 }, { "-9223372036854775808.0", INT64_MIN }, { "9223372036854775807", INT64_MAX },
             { "1.5", {} }, { "\"3\"", {} }, { "9223372036854775808.0", {} } }) {
        auto request = intake(R"({"id":)" + std::string(id) + R"(,"method":"stop"})");
        EXPECT_EQ(request ? std::optional(request->id) : std::nullopt, value) << id;
    }
    auto twice = intake(R"({"id":"x","id":2,"method":"a\ud800b\udc00\ud800","data":{"a":1},"data":[1]})");
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->id, 2);
    EXPECT_EQ(twice->method,
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(twice->data().MemberCount(), 0u);
    EXPECT_EQ(mendLoneSurrogates(R"("\\ud800\\\ud800\ud83d\ude00")"), R"("\\ud800\\\ufffd\ud83d\ude00")");
    EXPECT_TRUE(intake(
        R"({"id":1,"method":"stop","data":)" + std::string(200'000, '[') + std::string(200'000, ']') + "}"));
}

} // namespace brindle
