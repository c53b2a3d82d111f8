#include "platform/linux/navigation_url.h"

#include <gtest/gtest.h>

namespace brindle::native {
namespace {

TEST(NavigationUrl, GivesSchemeHostAsWrittenAndTheDecodedPath)
{
    struct Case {
        char const* text;
        char const* scheme;
        std::optional<std::string> host;
        char const* path;
    };
    for (auto const& c : std::initializer_list<Case> {
             // Query and fragment are not part of the path, so they cannot lend it an extension.
             { "https://localhost:9443/planner/file.DMG?x=a.dmg#top", "https", "localhost",
                 "/planner/file.DMG" },
             { "https://planner.example/get/app%2Edmg", "https", "planner.example", "/get/app.dmg" },
             // An escape that is not UTF-8 must not make the address unreadable.
             { "https://planner.example/%FF%FE.apk", "https", "planner.example", "/\xFF\xFE.apk" },
             { "https://[::1]:8443/planner", "https", "::1", "/planner" },
             { "https://evil.localhost/planner", "https", "evil.localhost", "/planner" },
             // A "%" that starts no escape is kept as it is, as WebKit keeps it.
             { "https://example.org/50%-off", "https", "example.org", "/50%-off" },
             { "https://localhost/planner%4?q=100%", "https", "localhost", "/planner%4" },
             { "https://localhost@evil.example/planner", "https", "evil.example", "/planner" },
             { "file:///etc/passwd", "file", std::nullopt, "/etc/passwd" },
             { "mailto:someone@example.com", "mailto", std::nullopt, nullptr },
             { "about:blank", "about", std::nullopt, nullptr },
         }) {
        auto url = parseNavigationUrl(c.text);
        ASSERT_TRUE(url) << c.text;
        EXPECT_EQ(url->text, c.text);
        EXPECT_EQ(url->scheme, c.scheme) << c.text;
        EXPECT_EQ(url->host, c.host) << c.text;
        if (c.path) {
            EXPECT_EQ(url->path, c.path) << c.text;
        }
    }
    auto data = parseNavigationUrl("data:text/html,<b>hi</b>");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->scheme, "data");
    EXPECT_FALSE(data->host);

    for (char const* none :
        { static_cast<char const*>(nullptr), "", "planner", "/relative/path", "https://[::1/planner" })
        EXPECT_FALSE(parseNavigationUrl(none)) << (none ? none : "null");
}

} // namespace
} // namespace brindle::native
