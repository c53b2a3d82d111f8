#pragma once

// The one boundary between Brindle's decisions and the desktop it runs on. Nothing declared here
// names a toolkit type: the Linux implementation lives in platform/linux/, and platform/fake/
// records what was asked of it so that every decision can be tested without a display.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// A scheduled callback on the main loop. Destroying it cancels it, as does invalidate().
class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

// Which main-loop states a timer fires in. A default-only timer waits while a modal dialog is up
// and fires as soon as the dialog has closed; a common timer fires regardless.
enum class TimerModes {
    common,
    defaultOnly,
};

// One sound file loaded for playback. The player is single-use: play() starts it, stop() ends it
// at once; a looping player starts again at the end of the file until stopped.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(bool looping) = 0;
    virtual void stop() = 0;
    // Called from the main loop, at most once, when the sound cannot reach the audio output: none
    // could be opened, or the one playing went away (the sound server stopped or restarted). The
    // player is silent from then on; the handler must not destroy it from inside the call.
    virtual void onOutputFailure(std::function<void()> handler) = 0;
};

class WebView {
public:
    virtual ~WebView() = default;
    // Loads the address in the main frame; a load that has not answered within the time-out fails.
    virtual void load(std::string const& url, int timeoutSeconds) = 0;
    // Reloads whatever the view last loaded (used after the web process went away).
    virtual void reload() = 0;
    // Runs the script in the page's own world of the main frame; the result is ignored.
    virtual void evaluateJavaScript(std::string const& script) = 0;
};

class Window {
public:
    virtual ~Window() = default;
    // Shows the window in front and gives it the keyboard focus.
    virtual void makeKeyAndOrderFront() = 0;
};

class AlarmPanel {
public:
    virtual ~AlarmPanel() = default;
    // Shows the panel again in front, after Brindle was hidden while it rang.
    virtual void present() = 0;
    virtual void close() = 0;
};

// Held while Brindle promises to deliver alarms; destroying it ends the assertion.
class ActivityToken {
public:
    virtual ~ActivityToken() = default;
};

// Held while an alarm that woke the machine is to ring: until it is destroyed, closing the lid
// does not put the machine back to sleep.
class SleepHold {
public:
    virtual ~SleepHold() = default;
};

// One message from the page, as the trusted relay in Brindle's own script world saw it: the
// frame that posted it, that frame's origin, and the envelope as JSON text.
struct ScriptMessage {
    bool isMainFrame = false;
    std::string protocol; // without the colon, e.g. "https"
    std::string host;
    std::string body;
};

// The parts of a navigation target that the navigation policy reads. The platform parses the
// address; `scheme` and `host` are absent when the address has none.
struct NavigationUrl {
    std::string text;
    std::optional<std::string> scheme;
    std::optional<std::string> host;
    std::string path;
};

enum class NavigationPolicy {
    cancel,
    allow,
};

// The page script hands each envelope to Brindle as JSON text, in the `detail` of a CustomEvent
// of this name dispatched on the main frame's window. A relay in Brindle's own script world, in
// the top frame only, passes it on with the frame's real origin; the page's world has no
// message handler at all, so a subframe cannot post to Brindle.
inline constexpr std::string_view pageEnvelopeEvent = "brindle-envelope";

struct WebViewConfig {
    // Added to every main-frame document at document start, in the page's own world.
    std::string pageScript;
    // The script message handler's name, registered in Brindle's own world only.
    std::string handlerName;
    std::function<void(ScriptMessage const&)> onScriptMessage;
    // Asked for every navigation, of the main frame, of subframes and of new-window requests.
    std::function<NavigationPolicy(std::optional<NavigationUrl> const&)> decidePolicy;
    // The web process crashed or was killed; the view shows nothing until it is reloaded.
    std::function<void()> onWebProcessTerminated;
};

struct WindowLayout {
    std::string title;
    int width = 0;
    int height = 0;
};

struct PanelContent {
    std::string windowTitle;
    std::string label;
    double labelPointSize = 0;
    std::string stopTitle;
    std::string snoozeTitle;
    std::function<void()> onStop;
    std::function<void()> onSnooze;
};

// The notification that stands for a ringing alarm, for whoever cannot see the panel (a locked
// screen, a full-screen window, another workspace): it stays on screen until answered, and its
// two actions do what the panel's buttons do. Clicking the notification itself brings the main
// window back, as a reminder does.
struct AlarmNotification {
    std::string title;
    std::string body;
    std::string stopTitle;
    std::string snoozeTitle;
    std::function<void()> onStop;
    std::function<void()> onSnooze;
};

// A notification on screen; destroying the handle or calling withdraw() takes it away.
class PostedNotification {
public:
    virtual ~PostedNotification() = default;
    virtual void withdraw() = 0;
};

struct AlertQuestion {
    std::string messageText;
    std::string informativeText;
    // The first button is the default one and answers Return.
    std::vector<std::string> buttons;
};

// The value runModalAlert returns for the first button; the second is one more, and so on.
inline constexpr int alertFirstButtonReturn = 1000;
inline constexpr int alertSecondButtonReturn = 1001;

struct Notification {
    std::string identifier;
    std::string title;
    std::string body;
};

enum class NotificationStatus {
    notDetermined = 0,
    denied = 1,
    authorized = 2,
    provisional = 3,
};

enum class MenuAction {
    about,
    showWindow,
    hide,
    quit,
    cut,
    copy,
    paste,
    selectAll,
};

struct MenuItem {
    std::string title; // empty for a separator
    std::optional<MenuAction> action;
    std::string keyEquivalent; // with the Primary (Ctrl) modifier; empty for none
    bool isSeparator() const { return !action; }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

struct MainMenu {
    std::vector<Menu> menus;
};

// What the platform asks of the application object, by the roles of a desktop application.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    // Started with the desktop session as a background service: the same launch, but no window
    // shows until Brindle is launched again (reopen).
    virtual void applicationDidFinishLaunchingInBackground() = 0;
    // Brindle was launched again, or its icon activated, while it runs.
    virtual bool applicationShouldHandleReopen() = 0;
    // true quits now, false cancels the quit.
    virtual bool applicationShouldTerminate() = 0;
    virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
    // A menu item was chosen (Show Brindle) or a notification was clicked.
    virtual void showWindow() = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // The wall clock in milliseconds since 1970-01-01 UTC: seconds as a double times 1000.0.
    virtual double nowMs() = 0;

    // Files. Paths are absolute and UTF-8. The per-user data folder plays the part of
    // Application Support and the per-user config folder holds the user defaults; either may
    // be missing on a broken system.
    virtual std::optional<std::string> userDataDirectory() = 0;
    virtual std::optional<std::string> userConfigDirectory() = 0;
    // Creates the folder and its missing parents; true when it exists afterwards.
    virtual bool createDirectories(std::string const& path) = 0;
    virtual std::optional<std::string> readFile(std::string const& path) = 0;
    // Writes aside, flushes to disk and renames over the old file, so a reader sees either
    // the old or the new content whole. false when nothing was replaced.
    virtual bool writeFileAtomically(std::string const& path, std::string_view bytes) = 0;

    // Main-loop timers.
    virtual std::unique_ptr<Timer> scheduleTimer(
        double seconds, bool repeats, TimerModes modes, std::function<void()> action)
        = 0;

    // The machine woke from sleep; called on the main loop.
    virtual void observeWake(std::function<void()> action) = 0;

    // Notifications. A notification with the identifier of one still shown replaces it.
    virtual void postNotification(Notification const& notification) = 0;
    virtual void requestNotificationAuthorization(std::function<void(bool granted)> completion) = 0;
    virtual void getNotificationStatus(std::function<void(NotificationStatus)> completion) = 0;
    virtual std::unique_ptr<PostedNotification> postAlarmNotification(AlarmNotification const& notification)
        = 0;

    virtual std::unique_ptr<ActivityToken> beginActivity(std::uint64_t options, std::string const& reason)
        = 0;

    // The one wake-up. A sleeping machine is woken at atMs (a moment already past: at once), and
    // onWakeUp runs on the main loop at that moment, whether the machine slept or not. Each call
    // replaces the wake-up set before; none removes it. Where the machine cannot be woken, the
    // platform says so once and nothing happens.
    virtual void setWakeUp(std::optional<double> atMs, std::function<void()> onWakeUp) = 0;
    virtual std::unique_ptr<SleepHold> holdSleep(std::string const& reason) = 0;

    // Sound resources shipped with Brindle: the path of name.extension, or none.
    virtual std::optional<std::string> resourcePath(std::string const& name, std::string const& extension)
        = 0;
    // A player for the whole file, or none when it cannot be read or decoded.
    virtual std::unique_ptr<SoundPlayer> createSoundPlayer(std::string const& path) = 0;

    // The application, its windows and the desktop.
    virtual void installMainMenu(MainMenu const& menu) = 0;
    virtual std::unique_ptr<WebView> createWebView(WebViewConfig config) = 0;
    // A window around the web view, centred; its close button hides it.
    virtual std::unique_ptr<Window> createMainWindow(WindowLayout const& layout, WebView& content) = 0;
    virtual std::unique_ptr<AlarmPanel> showAlarmPanel(PanelContent const& content) = 0;
    // Brings the application in front of all others.
    virtual void activateApplication() = 0;
    // Runs the alert modally and answers alertFirstButtonReturn + the index of the button pressed.
    virtual int runModalAlert(AlertQuestion const& alert) = 0;
    // Hands an address to the desktop, which opens it in the application registered for it.
    virtual void openURL(std::string const& url) = 0;
};

} // namespace brindle
