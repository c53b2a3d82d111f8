#pragma once

#include "app/app_delegate.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"
#include "schedule/user_defaults.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace brindle::testing {

// A controller on the fake platform whose schedule comes from the store file, the way it does
// at launch. Tests move the clock and call the schedule's operations themselves.
class ScheduleTest : public ::testing::Test {
protected:
    static constexpr char storeFolder[] = "/home/test/.local/share/Brindle";
    static constexpr char storePath[] = "/home/test/.local/share/Brindle/alarms.json";
    static constexpr char defaultsFolder[] = "/home/test/.config/Brindle";
    static constexpr char defaultsPath[] = "/home/test/.config/Brindle/defaults.json";

    fake::FakePlatform platform;
    std::optional<AppDelegate> controller { std::in_place, platform, "localhost" };

    double now() { return platform.nowMs(); }

    static Alarm alarm(std::string key, double at, std::string mode = "reminder", std::string title = "")
    {
        if (title.empty())
            title = "Title of " + key;
        return Alarm { std::move(key), at, std::move(title), "bell", std::move(mode), std::nullopt };
    }

    // Puts the alarms in the store file and has the controller load it, as launch does.
    void load(std::vector<Alarm> const& alarms)
    {
        platform.files[storePath] = encodeAlarmsJson(alarms);
        controller->loadAlarms();
    }

    // A new process over the same files: a fresh controller that loads the schedule and the
    // fired set.
    void restart()
    {
        controller.reset();
        controller.emplace(platform, "localhost");
        controller->loadAlarms();
        controller->loadFired();
    }

    std::optional<std::vector<Alarm>> storedAlarms() const
    {
        auto file = platform.files.find(storePath);
        if (file == platform.files.end())
            return std::nullopt;
        return decodeAlarmsJson(file->second);
    }

    std::vector<std::string> storedFired() const
    {
        auto file = platform.files.find(defaultsPath);
        if (file == platform.files.end())
            return {};
        return readFiredDefaults(file->second).value_or(std::vector<std::string> {});
    }
};

} // namespace brindle::testing
