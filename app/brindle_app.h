#pragma once

#include "app/planner_window.h"
#include "bridge/page_bridge.h"
#include "platform/platform.h"
#include "ringing/ringer.h"
#include "schedule/schedule.h"
#include "schedule/wake_up.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindle {

// What is fixed when Brindle is built.
struct AppSettings {
    std::string appHost;
    // A development server's port, put into the page address and nowhere else.
    std::string appPort;
    // Brindle's folder under the user's data and config folders.
    std::string folderName = "Brindle";
};

// The application: it makes the rooms, wires what one room tells another, and runs the launch,
// the scheduler's tick and the quit question. The rooms hold the state; this holds the rooms.
class BrindleApp final : public ApplicationDelegate {
public:
    // Makes the rooms, which touch nothing until the launch.
    BrindleApp(Platform& platform, AppSettings settings);

    void launch(LaunchMode mode) override;
    void reopen() override;
    void presentWindow() override;
    void confirmQuit(std::function<void(bool quit)> answer) override;

    // One scheduler pass, as the tick timer and a wake from sleep run it.
    void tick();

    Schedule& schedule() { return schedule_; }
    Schedule const& schedule() const { return schedule_; }
    Ringer& ringer() { return ringer_; }
    Ringer const& ringer() const { return ringer_; }
    WakeUp const& wakeUp() const { return wakeUp_; }
    PlannerWindow* plannerWindow() { return plannerWindow_ ? &*plannerWindow_ : nullptr; }
    PageBridge* pageBridge() { return pageBridge_ ? &*pageBridge_ : nullptr; }

private:
    Platform& platform_;
    AppSettings const settings_;
    Schedule schedule_;
    WakeUp wakeUp_;
    Ringer ringer_;
    std::optional<PlannerWindow> plannerWindow_;
    std::optional<PageBridge> pageBridge_;
    std::unique_ptr<Timer> tickTimer_;
};

// The menubar: the application menu and Edit.
MainMenu mainMenu();

} // namespace brindle
