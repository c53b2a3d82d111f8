#include "platform/linux/script_relay.h"

#include <gtest/gtest.h>

namespace brindle::native {
namespace {

TEST(RelayMessage, CarriesFrameOriginAndBodyWithoutTheColonUnchanged)
{
    auto message = readRelayMessage(
        R"({"isMainFrame":true,"protocol":"https:","host":"localhost","body":"{\"id\":1,\"method\":\"stop\"}"})");
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->isMainFrame);
    EXPECT_EQ(message->protocol, "https");
    EXPECT_EQ(message->host, "localhost");
    EXPECT_EQ(message->body, R"({"id":1,"method":"stop"})");

    message = readRelayMessage(R"({"isMainFrame":false,"protocol":"http:","host":"","body":""})");
    ASSERT_TRUE(message);
    EXPECT_FALSE(message->isMainFrame);
    EXPECT_EQ(message->protocol, "http");
    EXPECT_EQ(message->host, "");
    EXPECT_EQ(message->body, "");

    // Texts survive escapes and non-ASCII characters.
    message = readRelayMessage(
        R"({"isMainFrame":true,"protocol":"https:","host":"h\u00f6st","body":"a\"b\\c\nd\u2028e\u0000f 😀"})");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->host, "h\xC3\xB6st");
    EXPECT_EQ(message->body,
        std::string("a\"b\\c\nd\xE2\x80\xA8"
                    "e\0f \xF0\x9F\x98\x80",
            18));
}

TEST(RelayMessage, AnythingButTheRelaysObjectIsDroppedWhateverItsExtras)
{
    char const* const rejected[] = {
        "",
        "null",
        "\"text\"",
        "[true,\"https:\",\"localhost\",\"{}\"]",
        R"({"protocol":"https:","host":"localhost","body":"{}"})",
        R"({"isMainFrame":1,"protocol":"https:","host":"localhost","body":"{}"})",
        R"({"isMainFrame":true,"protocol":null,"host":"localhost","body":"{}"})",
        R"({"isMainFrame":true,"protocol":"https:","host":["localhost"],"body":"{}"})",
        R"({"isMainFrame":true,"protocol":"https:","host":"localhost","body":{"id":1}})",
        R"({"isMainFrame":true,"protocol":"https:","host":"localhost"})",
        R"({"isMainFrame":true,"protocol":"https:","host":"localhost","body":"{}"} trailing)",
        "{\"isMainFrame\":true,\"protocol\":\"https:\",\"host\":\"\xFF\",\"body\":\"{}\"}",
    };
    for (char const* text : rejected)
        EXPECT_FALSE(readRelayMessage(text)) << text;

    // Deep nesting in an extra member does not exhaust the stack.
    std::string deep = R"({"isMainFrame":true,"protocol":"https:","host":"localhost","body":"{}","x":)";
    deep += std::string(200'000, '[') + std::string(200'000, ']') + "}";
    EXPECT_EQ(readRelayMessage(deep).value().body, "{}");
}

TEST(RelayScript, NamesTheHandlerAndEventAsJsonStrings)
{
    std::string const script = relayScript("brindle");
    EXPECT_NE(script.find(R"(messageHandlers["brindle"])"), std::string::npos);
    EXPECT_NE(script.find(R"(addEventListener("brindle-envelope")"), std::string::npos);
    // An odd handler name cannot break out of its string.
    EXPECT_NE(relayScript("a\"];alert(1);//").find(R"(["a\"];alert(1);//"])"), std::string::npos);
}

} // namespace
} // namespace brindle::native
