#include "bridge/intake.h"
#include "schedule/alarm_json.h"
#include "schedule/fired_store.h"
#include "text/json.h"
#include "text/unicode.h"

#include <gtest/gtest.h>
#include <limits>

namespace brindle {

using namespace std::string_literals;

constexpr char const* replacement = "\xEF\xBF\xBD";

TEST(TextEquality, ComparesWholeTextsUpToCanonicalEquivalence)
{
    for (auto const& [a, b, same] : std::initializer_list<std::tuple<std::string, std::string, bool>> {
             { "caf\xC3\xA9", "cafe\xCC\x81", true }, { "\xC3\xA9\0x"s, "\xC3\xA9\0y"s, false },
             { "x\0e\xCC\x81"s, "x\0\xC3\xA9"s, true }, { "alarm\0\xC3\xA9"s, "alarm", false } })
        EXPECT_EQ(sameText(a, b), same) << a << " / " << b;
}

// The store, the defaults and the page's messages read text by the same rules.
TEST(JsonText, EveryTextIsReadAlikeAndWhatIsWrittenReadsAgain)
{
    auto alarms = decodeAlarmsJson(R"([{"key":"a\udc00","at":1,"title":"\ud800","sound":"s","mode":"m"}])");
    ASSERT_TRUE(alarms);
    EXPECT_EQ(alarms->at(0).key, "a"s + replacement);
    EXPECT_EQ(decodeAlarmsJson(encodeAlarmsJson(*alarms)), alarms);
    EXPECT_EQ(encodeAlarmsJson({ Alarm { "\xED\xB0\x80", 1, "t", "s", "m", {} } }), "");

    auto rewritten = writeFiredDefaults(R"({"other":"\udc00","fired":["\udc00"]})", { "k1.0" });
    EXPECT_EQ(readFiredDefaults(rewritten), std::vector<std::string> { "k1.0" });
    EXPECT_NE(rewritten.find("\"other\":\""s + replacement), std::string::npos) << rewritten;

    // A number beyond the largest double is refused with its text; the largest are read as they are.
    for (char const* number : { "5922337203623372036e300", "0.9e309", "-1.797693134862316e308" })
        EXPECT_FALSE(readableJson("[1,"s + number + "]")) << number;
    JsonDocument extremes;
    ASSERT_TRUE(extremes.parse(R"([1.7976931348623158e308, -1e308, 1e-400, "9e999"])"));
    EXPECT_EQ(extremes.root()[0].GetDouble(), std::numeric_limits<double>::max());
    EXPECT_EQ(extremes.root()[1].GetDouble(), -1e308);

    EXPECT_FALSE(readRequest({ true, "https", "h",
                                 R"({"id":1,"method":"stop"})"
                                 "\0junk"s },
        "h"));
}

} // namespace brindle
