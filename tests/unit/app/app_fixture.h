#pragma once

#include "app/app_delegate.h"
#include "platform/fake/fake_platform.h"
#include "schedule/alarm_json.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace brindle::testing {

// A controller on the fake platform, launched the way Brindle launches, with its schedule taken
// from the store file.
class AppTest : public ::testing::Test {
protected:
    static constexpr char storePath[] = "/home/test/.local/share/Brindle/alarms.json";

    static constexpr double second = 1000.0;
    static constexpr double minute = 60 * second;
    static constexpr double hour = 60 * minute;

    fake::FakePlatform platform;
    AppDelegate controller { platform, "localhost" };

    double now() { return platform.nowMs(); }

    static Alarm alarm(std::string key, double at, std::string mode = "alarm")
    {
        return Alarm { key, at, "Title of " + key, "bell", std::move(mode), std::nullopt };
    }
    static Alarm reminder(std::string key, double at) { return alarm(std::move(key), at, "reminder"); }

    void launchWith(std::vector<Alarm> const& alarms)
    {
        platform.files[storePath] = encodeAlarmsJson(alarms);
        controller.applicationDidFinishLaunching();
    }

    std::shared_ptr<fake::FakeWindow> mainWindow() const
    {
        return platform.windows.size() == 1 ? platform.windows.front() : nullptr;
    }

    std::vector<std::string> notifiedKeys() const
    {
        std::vector<std::string> keys;
        for (auto const& notification : platform.notifications)
            keys.push_back(notification.identifier);
        return keys;
    }
};

} // namespace brindle::testing
