#include "platform/linux/navigation_url.h"

#include <gtest/gtest.h>

namespace brindle::native {
namespace {

TEST(NavigationUrl, SecureAddressGivesSchemeHostWithoutPortAndPath)
{
    auto url = parseNavigationUrl("https://localhost:9443/planner/file.DMG?x=a.dmg#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->text, "https://localhost:9443/planner/file.DMG?x=a.dmg#top");
    EXPECT_EQ(url->scheme, "https");
    EXPECT_EQ(url->host, "localhost");
    // Query and fragment are not part of the path, so they cannot lend it an extension.
    EXPECT_EQ(url->path, "/planner/file.DMG");
}

TEST(NavigationUrl, PathIsDecodedByteForByte)
{
    auto url = parseNavigationUrl("https://planner.example/get/app%2Edmg");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path, "/get/app.dmg");

    // An escape that is not UTF-8 must not make the address unreadable.
    url = parseNavigationUrl("https://planner.example/%FF%FE.apk");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host, "planner.example");
    EXPECT_EQ(url->path, "/\xFF\xFE.apk");
}

TEST(NavigationUrl, AddressesWithoutHost)
{
    auto mail = parseNavigationUrl("mailto:someone@example.com");
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->scheme, "mailto");
    EXPECT_FALSE(mail->host);

    auto blank = parseNavigationUrl("about:blank");
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->scheme, "about");
    EXPECT_FALSE(blank->host);

    auto data = parseNavigationUrl("data:text/html,<b>hi</b>");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->scheme, "data");
    EXPECT_FALSE(data->host);

    auto file = parseNavigationUrl("file:///etc/passwd");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->scheme, "file");
    EXPECT_FALSE(file->host);
    EXPECT_EQ(file->path, "/etc/passwd");
}

TEST(NavigationUrl, HostsAsWritten)
{
    auto v6 = parseNavigationUrl("https://[::1]:8443/planner");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");

    auto sub = parseNavigationUrl("https://evil.localhost/planner");
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->host, "evil.localhost");

    auto user = parseNavigationUrl("https://localhost@evil.example/planner");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->host, "evil.example");
}

TEST(NavigationUrl, NoAddressOrUnreadableAddressIsNone)
{
    EXPECT_FALSE(parseNavigationUrl(nullptr));
    EXPECT_FALSE(parseNavigationUrl(""));
    EXPECT_FALSE(parseNavigationUrl("planner"));
    EXPECT_FALSE(parseNavigationUrl("/relative/path"));
    EXPECT_FALSE(parseNavigationUrl("https://[::1/planner"));
}

} // namespace
} // namespace brindle::native
