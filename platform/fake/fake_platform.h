#pragma once

// A platform for tests: a clock the test sets, timers the test runs by advancing that clock,
// files in memory that can be made to fail, and a record of every window, panel, sound,
// notification, script and address that Brindle asked for.

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brindle::fake {

struct FakeTimerState {
    std::uint64_t id = 0;
    double dueMs = 0;
    double intervalMs = 0;
    bool repeats = false;
    bool valid = true; // false once its handle is gone or a one-shot has fired
    std::function<void()> action;
};

struct FakeSound {
    std::string path;
    std::string mediaName;
    bool looping = false;
    bool playing = false;
    bool stopped = false;
    std::function<void()> onOutputFailure;
    // The audio output goes away under the sound, as when the sound server stops.
    void loseOutput()
    {
        playing = false;
        if (onOutputFailure)
            onOutputFailure();
    }
};

struct FakeAlarmNotification {
    AlarmNotification content;
    bool shown = true;
};

struct FakePanel {
    PanelContent content;
    bool open = true;
    int presents = 0; // shown again after it was first shown
};

struct FakeWebView {
    WebViewConfig config;
    std::vector<std::string> loads; // addresses, in order
    int reloads = 0;
    std::vector<std::string> evaluatedScripts;
};

struct FakeWindow {
    WindowLayout layout;
    int shows = 0;
};

class FakePlatform final : public Platform {
public:
    FakePlatform();

    // The clock. advance() moves it forward and runs every timer that falls due on the way,
    // in time order, the way the main loop would.
    void setNow(double ms) { nowMs_ = ms; }
    void advance(double ms);
    // Runs the timers that are due at the current time without moving the clock.
    void runDueTimers();
    std::size_t liveTimerCount() const;

    // Files. Every path is kept in memory; a path in failingWrites cannot be written and a
    // path in failingReads cannot be read.
    std::map<std::string, std::string> files;
    std::set<std::string> directories;
    std::set<std::string> failingWrites;
    std::set<std::string> failingReads;
    bool failAllWrites = false;
    std::optional<std::string> dataDirectory = "/home/test/.local/share";
    std::optional<std::string> configDirectory = "/home/test/.config";
    int writeCount = 0;

    // Notifications and their permission.
    std::vector<Notification> notifications;
    std::vector<std::shared_ptr<FakeAlarmNotification>> alarmNotifications;
    std::vector<std::shared_ptr<FakeAlarmNotification>> shownAlarmNotifications() const;
    bool notificationsAllowed = true;
    // Completions are held until the test delivers them, since the real ones arrive later.
    std::vector<std::function<void()>> pendingCompletions;
    void deliverCompletions();

    // Activity.
    int activitiesBegun = 0;
    int activitiesEnded = 0;
    std::string lastActivityReason;
    int liveActivities() const { return activitiesBegun - activitiesEnded; }

    // The wake-up: every value set, in order (none for a removal), and what runs when it comes.
    std::vector<std::optional<double>> wakeUps;
    std::optional<double> wakeUp() const { return wakeUps.empty() ? std::nullopt : wakeUps.back(); }
    std::function<void()> wakeUpAction;
    int sleepHoldsTaken = 0;
    int sleepHoldsReleased = 0;
    std::string lastSleepHoldReason;
    int liveSleepHolds() const { return sleepHoldsTaken - sleepHoldsReleased; }

    // Sounds. Resources are found for the names in `resources`; a path in `undecodable`
    // cannot be loaded.
    std::set<std::string> resources { "bell", "chime", "digital" };
    std::set<std::string> undecodable;
    // Whether an audio output can be opened; a player started without one fails at once.
    bool audioOutput = true;
    std::vector<std::shared_ptr<FakeSound>> sounds;
    std::shared_ptr<FakeSound> playingSound() const;

    // Windows, panels, menus, dialogs and the desktop.
    std::optional<MainMenu> mainMenu;
    std::vector<std::shared_ptr<FakeWebView>> webViews;
    std::vector<std::shared_ptr<FakeWindow>> windows;
    std::vector<std::shared_ptr<FakePanel>> panels;
    std::vector<std::shared_ptr<FakePanel>> openPanels() const;
    std::vector<std::string> openedUris;
    int screenWakesTaken = 0;
    int screenWakesReleased = 0;
    int liveScreenWakes() const { return screenWakesTaken - screenWakesReleased; }
    // Every question asked; the last one stays up until the test answers it.
    std::vector<Question> questions;
    void answerQuestion(std::size_t choice);
    std::function<void()> wakeAction;

    // Clock.
    double nowMs() override { return nowMs_; }
    std::unique_ptr<Timer> startTimer(double seconds, bool repeats, std::function<void()> action) override;
    // Files.
    std::optional<std::string> userDataDirectory() override { return dataDirectory; }
    std::optional<std::string> userConfigDirectory() override { return configDirectory; }
    bool createDirectories(std::string const& path) override;
    std::optional<std::string> readFile(std::string const& path) override;
    bool writeFileAtomically(std::string const& path, std::string_view bytes) override;
    // Notifications.
    void post(Notification const& notification) override { notifications.push_back(notification); }
    std::unique_ptr<PostedNotification> postAlarm(AlarmNotification const& notification) override;
    void checkAllowed(std::function<void(bool allowed)> completion) override;
    // Sound.
    std::optional<std::string> resourcePath(std::string const& name, std::string const& extension) override;
    std::unique_ptr<SoundPlayer> createPlayer(std::string const& path, std::string const& mediaName) override;
    // Power.
    void observeWake(std::function<void()> action) override { wakeAction = std::move(action); }
    void setWakeUp(std::optional<double> atMs, std::function<void()> onWakeUp) override
    {
        wakeUps.push_back(atMs);
        wakeUpAction = std::move(onWakeUp);
    }
    std::unique_ptr<SleepHold> holdSleep(std::string const& reason) override;
    std::unique_ptr<ActivityToken> beginActivity(std::string const& reason) override;
    // Desktop.
    void installMainMenu(MainMenu const& menu) override { mainMenu = menu; }
    std::unique_ptr<WebView> createWebView(WebViewConfig config) override;
    std::unique_ptr<Window> createMainWindow(WindowLayout const& layout, WebView& content) override;
    std::unique_ptr<AlarmPanel> showAlarmPanel(PanelContent const& content) override;
    void ask(Question const& question, std::function<void(std::size_t choice)> answered) override;
    void openUri(std::string const& uri) override { openedUris.push_back(uri); }
    std::unique_ptr<ScreenWakeLock> wakeScreen(std::string const& reason) override;

private:
    bool fireNextDueTimer(double limitMs);

    double nowMs_ = 1'765'000'000'000.0;
    std::uint64_t nextTimerId_ = 1;
    std::vector<std::shared_ptr<FakeTimerState>> timers_;
    std::function<void(std::size_t)> pendingAnswer_;
};

} // namespace brindle::fake
