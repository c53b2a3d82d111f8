#pragma once

#include "platform/linux/gobject_ptr.h"
#include "platform/linux/timers.h"
#include "platform/platform.h"

#include <gtk/gtk.h>
#include <memory>
#include <vector>

namespace brindle::native {

class NotificationClient;
class WakeObserver;
class WakeUp;

// Brindle's platform on a Linux desktop: GTK for the application and its windows, WebKitGTK for
// the planner, GIO for D-Bus and files, GStreamer for sound.
class LinuxPlatform final : public Platform {
public:
    explicit LinuxPlatform(GtkApplication* application);
    ~LinuxPlatform() override;
    LinuxPlatform(LinuxPlatform const&) = delete;
    LinuxPlatform& operator=(LinuxPlatform const&) = delete;

    // The delegate receives the menu's and the notifications' requests; it must outlive the
    // main loop.
    void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }

    // The application-level actions that the menu, the shortcuts and the signals reach.
    // Asks the delegate first and quits only when it agrees.
    void requestQuit();
    // Quits without asking, ending any dialog that is up.
    void quitNow();
    void hideAllWindows();
    void showAbout();
    void runEditingCommand(char const* command);

    double nowMs() override;
    std::optional<std::string> userDataDirectory() override;
    std::optional<std::string> userConfigDirectory() override;
    bool createDirectories(std::string const& path) override;
    std::optional<std::string> readFile(std::string const& path) override;
    bool writeFileAtomically(std::string const& path, std::string_view bytes) override;
    std::unique_ptr<Timer> scheduleTimer(
        double seconds, bool repeats, TimerModes modes, std::function<void()> action) override;
    void observeWake(std::function<void()> action) override;
    void postNotification(Notification const& notification) override;
    void requestNotificationAuthorization(std::function<void(bool granted)> completion) override;
    void getNotificationStatus(std::function<void(NotificationStatus)> completion) override;
    std::unique_ptr<PostedNotification> postAlarmNotification(AlarmNotification const& notification) override;
    std::unique_ptr<ActivityToken> beginActivity(std::uint64_t options, std::string const& reason) override;
    void setWakeUp(std::optional<double> atMs, std::function<void()> onWakeUp) override;
    std::unique_ptr<SleepHold> holdSleep(std::string const& reason) override;
    std::optional<std::string> resourcePath(std::string const& name, std::string const& extension) override;
    std::unique_ptr<SoundPlayer> createSoundPlayer(std::string const& path) override;
    void installMainMenu(MainMenu const& menu) override;
    std::unique_ptr<WebView> createWebView(WebViewConfig config) override;
    std::unique_ptr<Window> createMainWindow(WindowLayout const& layout, WebView& content) override;
    std::unique_ptr<AlarmPanel> showAlarmPanel(PanelContent const& content) override;
    void activateApplication() override;
    int runModalAlert(AlertQuestion const& alert) override;
    void openURL(std::string const& url) override;

private:
    void acceptActivation(std::string const& activationToken);
    void watch(GtkWidget* widget, GtkWidget** slot);
    void watch(GtkWindow* window, GtkWindow** slot);
    void dismissDialogs();
    NotificationClient& notifications();

    GtkApplication* application_;
    ApplicationDelegate* delegate_ = nullptr;
    std::shared_ptr<ModalState> modal_ = std::make_shared<ModalState>();
    std::unique_ptr<NotificationClient> notifications_;
    std::vector<std::unique_ptr<WakeObserver>> wakeObservers_;
    std::unique_ptr<WakeUp> wakeUp_;
    // Weak pointers: they turn null when GTK destroys the object.
    GtkWidget* mainWebView_ = nullptr;
    GtkWindow* mainWindow_ = nullptr;
    GtkWidget* aboutDialog_ = nullptr;
    std::vector<GtkDialog*> runningDialogs_;
    bool quitQuestionShowing_ = false;
    bool quitting_ = false;
};

} // namespace brindle::native
