#pragma once

#include "bridge/bridge_request.h"
#include "platform/platform.h"
#include "schedule/alarm.h"
#include "schedule/fired_set.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace brindle {

// The one controller: it holds all of Brindle's state and carries every operation. Its
// operations are defined across the subsystem folders (app/, bridge/, schedule/, ringing/);
// it reaches the desktop only through `Platform`.
class AppDelegate final : public ApplicationDelegate {
public:
    // Sets the fields to their defaults and does nothing else.
    explicit AppDelegate(Platform& platform, std::string appHost, std::string appPort = {});

    // Application shell (app/).
    void applicationDidFinishLaunching() override;
    void applicationDidFinishLaunchingInBackground() override;
    void showWindow() override;
    bool applicationShouldHandleReopen() override;
    bool applicationShouldTerminate() override;
    bool applicationShouldTerminateAfterLastWindowClosed() override { return false; }
    NavigationPolicy decidePolicyForNavigation(std::optional<NavigationUrl> const& url);
    void webProcessTerminated();
    static MainMenu mainMenu();
    std::string pageAddress() const;

    // Page bridge (bridge/).
    void didReceiveScriptMessage(ScriptMessage const& message);
    void reply(std::int64_t id, ReplyValue const& value = true, std::optional<std::string> const& error = {});
    void permission(std::int64_t id);
    void enable(std::int64_t id);

    // Alarm schedule (schedule/).
    std::optional<std::string> storeURL();
    void loadAlarms();
    void save();
    void loadFired();
    void tick();
    void woke();
    void updateActivity();
    void updateWakeUp();
    void wokeForAlarm();

    // Alarm ringing (ringing/).
    void ring(Alarm const& alarm);
    void play(std::string const& sound, bool looping);
    void stopAlarm();
    void snoozeAlarm();

    // Read-only views of the state, for tests and benchmarks.
    std::vector<Alarm> const& alarms() const { return alarms_; }
    FiredSet const& fired() const { return fired_; }
    std::optional<Alarm> const& active() const { return active_; }
    bool hasPlayer() const { return player_ != nullptr; }
    bool hasAlarmPanel() const { return alarmPanel_ != nullptr; }
    bool hasAlarmNotification() const { return alarmNotification_ != nullptr; }
    bool hasActivity() const { return activity_ != nullptr; }
    std::string const& appHost() const { return appHost_; }

private:
    void launch(bool showWindow);
    bool confirmQuit();
    void storeFired();
    void releaseSleepHold(bool ringEnded = false);
    void startPlayer(std::string const& path, bool looping);
    void replaceSchedule(std::int64_t id, RequestData const& data);
    void preview(std::int64_t id, RequestData const& data);

    Platform& platform_;

    // The controller's state.
    std::unique_ptr<Window> window_;
    std::unique_ptr<WebView> webView_;
    std::vector<Alarm> alarms_;
    FiredSet fired_;
    std::optional<Alarm> active_;
    std::unique_ptr<SoundPlayer> player_;
    std::unique_ptr<Timer> timer_;
    std::unique_ptr<AlarmPanel> alarmPanel_;
    std::unique_ptr<Timer> safetyTimer_;
    // Linux only: the ring's notification, and the timer that reopens the audio output while a
    // ringing alarm's sound has lost it.
    std::unique_ptr<PostedNotification> alarmNotification_;
    std::unique_ptr<Timer> soundRetryTimer_;
    std::unique_ptr<ActivityToken> activity_;
    // Linux only: the wake-up set for the earliest alarm ahead (none: removed), and the hold on
    // sleep taken when it came, kept until that alarm has rung.
    std::optional<double> wakeUp_;
    bool wakeUpSet_ = false;
    double wakeUpAlarmAt_ = 0;
    std::unique_ptr<SleepHold> sleepHold_;
    double sleepHoldAlarmAt_ = 0;
    std::unique_ptr<Timer> sleepHoldTimer_;
    std::string const appHost_;

    // Linux only: a development server's port, put into the page address and nowhere else.
    std::string const appPort_;
    // When the web process last went away and the page was reloaded, to keep a crashing page
    // from being reloaded in a tight loop.
    std::optional<double> lastWebProcessReloadMs_;
    bool webProcessReloadPending_ = false;
    std::unique_ptr<Timer> webProcessReloadTimer_;
};

} // namespace brindle
