#pragma once

#include "unit/app/app_fixture.h"

#include <optional>

namespace brindle::testing {

// A launched controller on the fake platform. Alarms reach it the way they do in Brindle: from
// the store file at launch, rung by the tick once they fall due.
class RingingTest : public AppTest {
protected:
    static Alarm alarm(std::string key, double at, std::string title, std::string sound = "bell",
        std::optional<std::string> baseKey = {}, std::string mode = "alarm")
    {
        return Alarm { std::move(key), at, std::move(title), std::move(sound), std::move(mode),
            std::move(baseKey) };
    }

    // Launches with the alarms, all due by the first tick, and lets that tick ring them.
    void ringAtLaunch(std::vector<Alarm> const& alarms)
    {
        launchWith(alarms);
        platform.advance(1000);
    }

    std::vector<Alarm> storedAlarms() const
    {
        auto file = platform.files.find(storePath);
        if (file == platform.files.end())
            return {};
        return decodeAlarmsJson(file->second).value_or(std::vector<Alarm> {});
    }

    std::shared_ptr<fake::FakePanel> openPanel() const
    {
        auto open = platform.openPanels();
        return open.size() == 1 ? open.front() : nullptr;
    }

    static std::string resource(std::string const& name) { return "/resources/" + name + ".wav"; }

    // Sends a request from the planner page through the web view's message handler.
    void sendFromPage(std::string const& body)
    {
        ASSERT_FALSE(platform.webViews.empty());
        platform.webViews.front()->config.onScriptMessage(ScriptMessage { true, "https", "localhost", body });
    }
};

} // namespace brindle::testing
