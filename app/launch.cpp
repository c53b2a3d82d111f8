#include "app/app_delegate.h"
#include "bridge/page_script.h"

namespace brindle {

namespace {

constexpr int mainWindowWidth = 1060;
constexpr int mainWindowHeight = 780;
constexpr int pageTimeoutSeconds = 60;
constexpr double tickIntervalSeconds = 1.0;

} // namespace

// The launch sequence. Its order matters: the schedule is loaded before anything can tick, and
// the keep-awake activity is settled from that schedule once the tick timer runs.
void AppDelegate::applicationDidFinishLaunching()
{
    launch(true);
}

// Started with the session: alarms ring from login on, and the window waits for the user.
void AppDelegate::applicationDidFinishLaunchingInBackground()
{
    launch(false);
}

void AppDelegate::launch(bool showWindow)
{
    loadAlarms();
    loadFired();

    // Asked at every launch; the answer only matters when the page asks (permission, enable).
    platform_.requestNotificationAuthorization([](bool) {});

    platform_.installMainMenu(mainMenu());

    WebViewConfig config;
    config.pageScript = pageScript(appHost_);
    config.handlerName = std::string(messageHandlerName);
    config.onScriptMessage = [this](ScriptMessage const& message) { didReceiveScriptMessage(message); };
    config.decidePolicy
        = [this](std::optional<NavigationUrl> const& url) { return decidePolicyForNavigation(url); };
    config.onWebProcessTerminated = [this] { webProcessTerminated(); };
    webView_ = platform_.createWebView(std::move(config));

    window_ = platform_.createMainWindow({ "Brindle", mainWindowWidth, mainWindowHeight }, *webView_);
    webView_->load(pageAddress(), pageTimeoutSeconds);

    if (showWindow) {
        window_->makeKeyAndOrderFront();
        platform_.activateApplication();
    }

    timer_ = platform_.scheduleTimer(tickIntervalSeconds, true, TimerModes::common, [this] { tick(); });
    updateActivity();
    updateWakeUp();
    platform_.observeWake([this] { woke(); });
}

// Hiding Brindle hides a ringing alarm's panel with the main window, so showing Brindle again
// shows the panel too, above the window, while its sound goes on.
void AppDelegate::showWindow()
{
    if (!window_)
        return;
    window_->makeKeyAndOrderFront();
    if (alarmPanel_)
        alarmPanel_->present();
    platform_.activateApplication();
}

// Launching Brindle again while it runs, or activating its icon, brings the main window back
// whatever else is visible.
bool AppDelegate::applicationShouldHandleReopen()
{
    showWindow();
    return true;
}

} // namespace brindle
