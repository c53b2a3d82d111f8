#include "bridge/page_script.h"
#include "bridge_fixture.h"

#include <gtest/gtest.h>
#include <limits>

namespace brindle::testing {
namespace {

using Reply = BridgeTest;

TEST_F(Reply, IsTheExactReplyScriptCarryingIdsValuesAndErrorsUnchanged)
{
    launch();
    controller.reply(7);
    ASSERT_EQ(scripts().size(), 1u);
    EXPECT_EQ(scripts()[0],
        R"((() => {const r={"id":7,"value":true,"error":null};window.__brindleReply?.(r.id, r.value, r.error);})())");

    auto const min = std::numeric_limits<std::int64_t>::min();
    auto const max = std::numeric_limits<std::int64_t>::max();
    controller.reply(min, std::string("granted"));
    controller.reply(max, false, std::string("Unknown desktop request"));
    controller.reply(0, std::string(""), std::string(""));
    auto all = replies();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1].id, min);
    EXPECT_EQ(all[1].value, ReplyValue(std::string("granted")));
    EXPECT_EQ(all[1].error, std::nullopt);
    EXPECT_EQ(all[2].id, max);
    EXPECT_EQ(all[2].value, ReplyValue(false));
    EXPECT_EQ(all[2].error, "Unknown desktop request");
    EXPECT_EQ(all[3].value, ReplyValue(std::string("")));
    EXPECT_EQ(all[3].error, "");
}

// The JSON is the initialiser of a constant in the script, so no text may end the string, the
// statement or the line early. A script without raw line breaks, whose JSON parses back to the
// same texts, is one JavaScript evaluates the same way.
TEST_F(Reply, EscapesEverythingThatCouldBreakTheScript)
{
    launch();
    std::string const text = "quote \" backslash \\ \\\" newline \n return \r tab \t nul "
        + std::string(1, '\0')
        + " bell \x07 ls \xE2\x80\xA8 ps \xE2\x80\xA9 </script><script>alert(1)</script> "
        + "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 ${x} `tick` ');})()//";
    controller.reply(1, text, text);
    ASSERT_EQ(scripts().size(), 1u);
    auto const& script = scripts()[0];
    for (std::string raw : std::initializer_list<std::string> {
             "\n", "\r", std::string(1, '\0'), "\x07", "\xE2\x80\xA8", "\xE2\x80\xA9" })
        EXPECT_EQ(script.find(raw), std::string::npos) << "raw character " << static_cast<int>(raw.back());
    EXPECT_NE(script.find("\\u2028"), std::string::npos);
    EXPECT_NE(script.find("\\u2029"), std::string::npos);
    auto reply = parseReplyScript(script);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value, ReplyValue(text));
    EXPECT_EQ(reply->error, text);
}

TEST_F(Reply, IsDroppedForTextThatIsNotUtf8OrBeforeThereIsAWebView)
{
    controller.reply(1);
    EXPECT_TRUE(platform.webViews.empty());
    launch();
    controller.reply(1, std::string("ok"), std::string("bad \xC3("));
    controller.reply(2, std::string("\xFF"));
    controller.reply(3, std::string("\xED\xA0\x80")); // an encoded surrogate
    EXPECT_TRUE(scripts().empty());
}

TEST(PageScript, WritesTheHostAsAStringLiteral)
{
    auto script = pageScript("planner.example");
    EXPECT_NE(script.find(R"(const appHost = "planner.example";)"), std::string::npos);
    EXPECT_NE(script.find(R"(const eventName = "brindle-envelope";)"), std::string::npos);

    auto hostile = pageScript("a\"b\\c\n</script>\xE2\x80\xA8");
    EXPECT_NE(hostile.find(R"(const appHost = "a\"b\\c\n</script>\u2028";)"), std::string::npos);

    EXPECT_NE(pageScript("\xFF").find("const appHost = null;"), std::string::npos)
        << "a host that is no text matches no page";
}

} // namespace
} // namespace brindle::testing
