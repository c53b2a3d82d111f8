#include "unit/fixture.h"

namespace brindle::testing {

using App = BrindleTest;

TEST_F(App, ShowsThePlannerAndTicksFromASecondLater)
{
    launch({ alarm("missed", now() - 5 * minute, "reminder") });
    EXPECT_EQ(platform.windows.at(0)->shows, 1);
    EXPECT_EQ(platform.webViews.at(0)->loads, std::vector<std::string> { "https://localhost/planner" });
    platform.advance(999);
    EXPECT_TRUE(platform.notifications.empty());
    platform.advance(1);
    EXPECT_EQ(notified(), std::vector<std::string> { "missed" });
}

// Reloads at once, then at most every ten seconds by the wall clock, which may be set back.
TEST_F(App, ALostWebProcessIsReloadedButNotInATightLoop)
{
    launch({ alarm("t1", now() + 3 * second) });
    auto& view = *platform.webViews.front();
    auto gone = [&] { view.config.onWebProcessTerminated(); };
    gone();
    EXPECT_EQ(view.reloads, 1);
    platform.advance(2 * second);
    gone();
    platform.advance(3 * second);
    gone();
    EXPECT_EQ(ringing(), "t1");
    platform.advance(5 * second - 1);
    EXPECT_EQ(view.reloads, 1);
    platform.advance(1);
    EXPECT_EQ(view.reloads, 2);
    platform.advance(hour);
    EXPECT_EQ(view.reloads, 2);
    gone();
    EXPECT_EQ(view.reloads, 3);
    platform.setNow(now() - hour);
    gone();
    platform.advance(10 * second);
    EXPECT_EQ(view.reloads, 4);
}

// Only the second choice quits: the first, the default that answers Return, keeps running.
TEST_F(App, AsksOnlyWhileAnAlarmLiesAhead)
{
    launch({ alarm("r1", now() + hour, "reminder"), alarm("capital", now() + hour, "Alarm"),
        alarm("past", now() - minute), alarm("ringing", now() + 500) });
    platform.advance(second);
    EXPECT_EQ(requestQuit(), true);
    EXPECT_TRUE(platform.questions.empty());

    controller->ringer().snooze();
    for (std::size_t choice : { 0, 2, 1 })
        EXPECT_EQ(requestQuit(choice), choice == 1) << choice;
    ASSERT_EQ(platform.questions.size(), 3u);
    EXPECT_EQ(platform.questions[0].choices, (std::vector<std::string> { "Keep running", "Quit" }));
}

TEST_F(App, DeliveriesGoOnWhileTheQuestionIsUpButTheSafetyStopWaits)
{
    launch({ alarm("ringing", now() + 500), alarm("later", now() + hour),
        alarm("soon", now() + 599 * second, "reminder") });
    platform.advance(598 * second);
    std::optional<bool> quit;
    controller->confirmQuit([&](bool answer) { quit = answer; });
    platform.advance(10 * second);
    EXPECT_EQ(ringing(), "ringing");
    EXPECT_EQ(quit, std::nullopt);
    platform.answerQuestion(0);
    EXPECT_EQ(quit, false);
    EXPECT_EQ(notified(), std::vector<std::string> { "soon" });
    EXPECT_EQ(ringing(), "");
}

// Other secure addresses and the two download extensions go to the browser; comparisons are exact.
TEST_F(App, DecidesEveryAddressByItsSchemeHostAndExtension)
{
    launch();
    auto url = [](std::string scheme, std::optional<std::string> host, std::string path) {
        return NavigationUrl { scheme + (host ? "://" + *host : ":") + path, scheme, host, path };
    };
    std::string const local = "localhost", allow = "allow", browser = "browser", cancel = "cancel";
    for (auto const& [address, decision] : std::vector<std::pair<std::optional<NavigationUrl>, std::string>> {
             { std::nullopt, cancel }, { url("https", local, "/planner"), allow },
             { url("https", local, "/files/Brindle.dmg"), browser },
             { url("https", local, "/a.apk"), browser }, { url("https", local, "/a.dmg/"), browser },
             { url("https", local, "/files/Brindle.DMG"), allow },
             { url("https", local, "/v1.dmg/notes"), allow }, { url("https", "example.org", "/"), browser },
             { url("https", "LOCALHOST", "/planner"), browser }, { url("https", {}, "/planner"), browser },
             { url("http", local, "/planner"), cancel }, { url("file", {}, "/etc/hostname"), cancel } }) {
        std::string const text = address ? address->text : "no address";
        platform.openedUris.clear();
        EXPECT_EQ(platform.webViews[0]->config.decideNavigation(address),
            decision == allow ? NavigationPolicy::allow : NavigationPolicy::cancel)
            << text;
        EXPECT_EQ(
            platform.openedUris, decision == browser ? std::vector { text } : std::vector<std::string> {})
            << text;
    }
}

} // namespace brindle::testing
