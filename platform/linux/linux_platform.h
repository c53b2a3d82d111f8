#pragma once

#include "platform/linux/logind.h"
#include "platform/linux/main_menu.h"
#include "platform/linux/notifications.h"
#include "platform/linux/questions.h"
#include "platform/linux/wake_up.h"
#include "platform/linux/windows.h"
#include "platform/platform.h"

#include <functional>
#include <gtk/gtk.h>
#include <memory>
#include <vector>

namespace brindle::native {

// Brindle's platform on a Linux desktop: each role call goes to the mechanism that serves it.
class LinuxPlatform final : public Platform {
public:
    // `activate` runs what the menu asks for, and MenuAction::showWindow for a clicked
    // notification.
    LinuxPlatform(GtkApplication* application, std::function<void(MenuAction)> activate);

    Windows& windows() { return windows_; }
    Questions& questions() { return questions_; }

    double nowMs() override;
    std::unique_ptr<Timer> startTimer(double seconds, bool repeats, std::function<void()> action) override;

    std::optional<std::string> userDataDirectory() override;
    std::optional<std::string> userConfigDirectory() override;
    bool createDirectories(std::string const& path) override;
    std::optional<std::string> readFile(std::string const& path) override;
    bool writeFileAtomically(std::string const& path, std::string_view bytes) override;

    void post(Notification const& notification) override { notifications_.post(notification); }
    std::unique_ptr<PostedNotification> postAlarm(AlarmNotification const& notification) override
    {
        return notifications_.postAlarm(notification);
    }
    void checkAllowed(std::function<void(bool allowed)> completion) override
    {
        notifications_.checkAllowed(std::move(completion));
    }

    std::optional<std::string> resourcePath(std::string const& name, std::string const& extension) override;
    std::unique_ptr<SoundPlayer> createPlayer(std::string const& path, std::string const& mediaName) override;

    void observeWake(std::function<void()> action) override;
    void setWakeUp(std::optional<double> atMs, std::function<void()> onWakeUp) override;
    std::unique_ptr<SleepHold> holdSleep(std::string const& reason) override;
    std::unique_ptr<ActivityToken> beginActivity(std::string const& reason) override;

    void installMainMenu(MainMenu const& menu) override { mainMenu_.install(menu); }
    std::unique_ptr<WebView> createWebView(WebViewConfig config) override
    {
        return windows_.createWebView(std::move(config));
    }
    std::unique_ptr<Window> createMainWindow(WindowLayout const& layout, WebView& content) override
    {
        return windows_.createMainWindow(layout, content);
    }
    std::unique_ptr<AlarmPanel> showAlarmPanel(PanelContent const& content) override;
    void ask(Question const& question, std::function<void(std::size_t choice)> answered) override
    {
        questions_.ask(windows_.shownMainWindow(), question, std::move(answered));
    }
    void openUri(std::string const& uri) override;
    std::unique_ptr<ScreenWakeLock> wakeScreen(std::string const& reason) override;

private:
    GtkApplication* const application_;
    Windows windows_;
    Questions questions_;
    LinuxMainMenu mainMenu_;
    LinuxNotifications notifications_;
    std::vector<std::unique_ptr<LogindWakeObserver>> wakeObservers_;
    // Made at the first call, at launch, so that a machine that cannot be woken is reported at
    // start.
    std::unique_ptr<WakeUp> wakeUp_;
};

} // namespace brindle::native
