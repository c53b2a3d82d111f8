#pragma once

#include "app/brindle_app.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"
#include "schedule/fired_store.h"
#include "support/reply_script.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace brindle::testing {

inline constexpr double second = 1000.0, minute = 60 * second, hour = 60 * minute;
inline constexpr char storePath[] = "/home/test/.local/share/Brindle/alarms.json";
inline constexpr char defaultsPath[] = "/home/test/.config/Brindle/defaults.json";

inline Alarm alarm(std::string key, double at, std::string mode = "alarm", std::string sound = "bell",
    std::optional<std::string> baseKey = {})
{
    std::string title = "Title of " + key;
    return { std::move(key), at, std::move(title), std::move(sound), std::move(mode), std::move(baseKey) };
}

using LaunchMode = ApplicationDelegate::LaunchMode;

class BrindleTest : public ::testing::Test {
protected:
    fake::FakePlatform platform;
    std::optional<BrindleApp> controller { std::in_place, platform,
        AppSettings { "localhost", "", "Brindle" } };

    double now() { return platform.nowMs(); }

    void launch(std::vector<Alarm> const& alarms = {})
    {
        platform.files[storePath] = encodeAlarmsJson(alarms);
        controller->launch(LaunchMode::withWindow);
        platform.deliverCompletions();
    }
    void restart()
    {
        controller.emplace(platform, AppSettings { "localhost", "", "Brindle" });
        controller->launch(LaunchMode::withWindow);
    }
    std::string file(std::string const& path) const
    {
        auto found = platform.files.find(path);
        return found == platform.files.end() ? "" : found->second;
    }
    std::vector<Alarm> stored() const
    {
        return decodeAlarmsJson(file(storePath)).value_or(std::vector<Alarm> {});
    }
    std::vector<std::string> storedFired() const
    {
        return readFiredDefaults(file(defaultsPath)).value_or(std::vector<std::string> {});
    }
    template <typename List, typename Member>
    static std::vector<std::string> pluck(List const& list, Member member)
    {
        std::vector<std::string> all;
        for (auto const& item : list)
            all.push_back(item.*member);
        return all;
    }
    std::vector<std::string> keys() const { return pluck(controller->schedule().alarms(), &Alarm::key); }
    std::vector<std::string> notified() const
    {
        return pluck(platform.notifications, &Notification::identifier);
    }
    std::string ringing() const
    {
        auto const& alarm = controller->ringer().ringing();
        return alarm ? alarm->key : "";
    }
    std::shared_ptr<fake::FakePanel> panel() const
    {
        auto open = platform.openPanels();
        return open.size() == 1 ? open.front() : nullptr;
    }
    std::shared_ptr<fake::FakeAlarmNotification> shown() const
    {
        auto all = platform.shownAlarmNotifications();
        return all.size() == 1 ? all.front() : nullptr;
    }
    std::string playing() const { return platform.playingSound() ? platform.playingSound()->path : ""; }

    void post(std::string const& body)
    {
        controller->pageBridge()->handleMessage({ true, "https", "localhost", body });
        platform.deliverCompletions();
    }
    void schedule(std::vector<Alarm> const& alarms, std::string const& taskIds = "")
    {
        post(R"({"id":1,"method":"schedule","data":{"alarms":)" + encodeAlarmsJson(alarms) + taskIds + "}}");
    }
    std::optional<bool> requestQuit(std::optional<std::size_t> choice = {})
    {
        std::optional<bool> quit;
        controller->confirmQuit([&](bool answer) { quit = answer; });
        if (choice)
            platform.answerQuestion(*choice);
        return quit;
    }
    std::vector<PageReply> replies() const
    {
        std::vector<PageReply> all;
        for (auto const& script : platform.webViews.at(0)->evaluatedScripts) {
            auto reply = parseReply(script);
            EXPECT_TRUE(reply) << script;
            all.push_back(reply.value_or(PageReply {}));
        }
        return all;
    }
};

} // namespace brindle::testing
