#include "app_fixture.h"

namespace brindle::testing {

namespace {

struct Case {
    char const* why;
    std::optional<NavigationUrl> url;
    NavigationPolicy policy;
    bool opensInBrowser;
};

NavigationUrl address(
    std::string text, std::optional<std::string> scheme, std::optional<std::string> host, std::string path)
{
    return { std::move(text), std::move(scheme), std::move(host), std::move(path) };
}

NavigationUrl https(std::string host, std::string path)
{
    return address("https://" + host + path, "https", host, path);
}

class NavigationPolicyTest : public AppTest { };

// Only secure pages of the planner's host stay in the window; secure addresses elsewhere and the
// two download extensions go to the browser; nothing else goes anywhere. Comparisons are exact.
TEST_F(NavigationPolicyTest, DecidesEveryAddressByItsSchemeHostAndExtension)
{
    std::vector<Case> const cases {
        { "no address at all", std::nullopt, NavigationPolicy::cancel, false },
        { "the planner itself", https("localhost", "/planner"), NavigationPolicy::allow, false },
        { "the planner's root", https("localhost", ""), NavigationPolicy::allow, false },
        { "a download for macOS", https("localhost", "/files/Brindle.dmg"), NavigationPolicy::cancel, true },
        { "a download for Android", https("localhost", "/files/brindle.apk"), NavigationPolicy::cancel,
            true },
        { "a folder named like a download", https("localhost", "/files/Brindle.dmg/"),
            NavigationPolicy::cancel, true },
        { "the extension in capitals", https("localhost", "/files/Brindle.DMG"), NavigationPolicy::allow,
            false },
        { "a longer extension", https("localhost", "/files/Brindle.dmgx"), NavigationPolicy::allow, false },
        { "a dot in a folder name only", https("localhost", "/v1.dmg/notes"), NavigationPolicy::allow,
            false },
        { "a query naming a download",
            address("https://localhost/get?file=a.dmg", "https", "localhost", "/get"),
            NavigationPolicy::allow, false },
        { "another host", https("example.org", "/elsewhere"), NavigationPolicy::cancel, true },
        { "a sub-domain of the host", https("www.localhost", "/planner"), NavigationPolicy::cancel, true },
        { "the host in capitals", https("LOCALHOST", "/planner"), NavigationPolicy::cancel, true },
        { "a secure address without a host", address("https:/planner", "https", std::nullopt, "/planner"),
            NavigationPolicy::cancel, true },
        { "the scheme in capitals", address("HTTPS://localhost/planner", "HTTPS", "localhost", "/planner"),
            NavigationPolicy::cancel, false },
        { "plain http on the host", address("http://localhost/planner", "http", "localhost", "/planner"),
            NavigationPolicy::cancel, false },
        { "mail", address("mailto:someone@example.org", "mailto", std::nullopt, "someone@example.org"),
            NavigationPolicy::cancel, false },
        { "a file", address("file:///etc/hostname", "file", std::nullopt, "/etc/hostname"),
            NavigationPolicy::cancel, false },
        { "about:blank", address("about:blank", "about", std::nullopt, "blank"), NavigationPolicy::cancel,
            false },
        { "no scheme", address("planner", std::nullopt, std::nullopt, "planner"), NavigationPolicy::cancel,
            false },
    };

    for (auto const& check : cases) {
        platform.openedURLs.clear();
        EXPECT_EQ(controller.decidePolicyForNavigation(check.url), check.policy) << check.why;
        std::vector<std::string> expected;
        if (check.opensInBrowser)
            expected.push_back(check.url->text);
        EXPECT_EQ(platform.openedURLs, expected) << check.why;
    }
}

// The web view asks the controller for every navigation, from launch on.
TEST_F(NavigationPolicyTest, TheWebViewAsksTheController)
{
    launchWith({});
    ASSERT_EQ(platform.webViews.size(), 1u);
    auto const& decide = platform.webViews.front()->config.decidePolicy;
    ASSERT_TRUE(decide);
    EXPECT_EQ(decide(https("localhost", "/planner")), NavigationPolicy::allow);
    EXPECT_EQ(decide(https("example.org", "/")), NavigationPolicy::cancel);
    EXPECT_EQ(platform.openedURLs, (std::vector<std::string> { "https://example.org/" }));
}

} // namespace

} // namespace brindle::testing
