#include "platform/linux/navigation_url.h"

#include <gtest/gtest.h>

namespace brindle::native {

// The navigation policy decides on these parts, so each must be what WebKit will load.
TEST(NavigationUrl, GivesSchemeHostAsWrittenAndTheDecodedPath)
{
    using Case = std::tuple<char const*, char const*, std::optional<std::string>, char const*>;
    for (auto const& [text, scheme, host, path] : std::initializer_list<Case> {
             // Query and fragment are not part of the path, so they cannot lend it an extension.
             { "https://localhost:9443/planner/file.DMG?x=a.dmg#top", "https", "localhost",
                 "/planner/file.DMG" },
             { "https://planner.example/get/app%2Edmg", "https", "planner.example", "/get/app.dmg" },
             // A "%" that starts no escape is kept as it is, as WebKit keeps it.
             { "https://example.org/50%-off", "https", "example.org", "/50%-off" },
             { "https://localhost/planner%4?q=100%", "https", "localhost", "/planner%4" },
             { "https://localhost@evil.example/planner", "https", "evil.example", "/planner" },
             { "mailto:someone@example.com", "mailto", std::nullopt, "someone@example.com" },
         }) {
        auto url = parseNavigationUrl(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(std::tie(url->scheme, url->host, url->path), std::tie(scheme, host, path)) << text;
    }
    for (char const* none : { "", "planner", "https://[::1/planner" })
        EXPECT_FALSE(parseNavigationUrl(none)) << none;
}

} // namespace brindle::native
