#pragma once

#include "platform/web_view.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

class Window {
public:
    virtual ~Window() = default;
    // Shows the window in front and gives it the keyboard focus.
    virtual void present() = 0;
};

class AlarmPanel {
public:
    virtual ~AlarmPanel() = default;
    // Shows the panel again in front, after Brindle was hidden while it rang. Destroying the
    // panel closes it.
    virtual void present() = 0;
};

// Held while an alarm rings: the session has woken a blanked screen and keeps idle from blanking
// it again until the lock is destroyed. A locked screen stays locked.
class ScreenWakeLock {
public:
    virtual ~ScreenWakeLock() = default;
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

// A question put to the user in a message dialog of its own, in GTK's words: the primary text
// in bold and the secondary text under it. The answer is the index of the choice taken; the first
// choice is the default one, answers Return, and is the answer when the dialog is closed any
// other way.
struct Question {
    std::string primaryText;
    std::string secondaryText;
    std::vector<std::string> choices;
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
    std::string accelerator; // a key with the Primary (Ctrl) modifier; empty for none
    bool isSeparator() const { return !action; }
};

struct Menu {
    std::string title;
    std::vector<MenuItem> items;
};

struct MainMenu {
    std::vector<Menu> menus;
};

// The desktop's windows and questions: the main window with the planner, the alarm panel, the
// menu, dialogs, and the browser for addresses that leave the planner.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual void installMainMenu(MainMenu const& menu) = 0;
    virtual std::unique_ptr<WebView> createWebView(WebViewConfig config) = 0;
    // A window around the web view, centred; its close button hides it.
    virtual std::unique_ptr<Window> createMainWindow(WindowLayout const& layout, WebView& content) = 0;
    // Shown above every window, without taking the keyboard focus.
    virtual std::unique_ptr<AlarmPanel> showAlarmPanel(PanelContent const& content) = 0;
    // Wakes a blanked screen now and keeps it on while the lock is held.
    virtual std::unique_ptr<ScreenWakeLock> wakeScreen(std::string const& reason) = 0;
    // Shows the question above Brindle's windows and returns at once; `answered` runs on the main
    // loop, once, with the index of the choice taken.
    virtual void ask(Question const& question, std::function<void(std::size_t choice)> answered) = 0;
    // Hands an address to the desktop, which opens it in the application registered for it.
    virtual void openUri(std::string const& uri) = 0;
};

// What the application object hands up to Brindle, by the roles of a desktop application.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // The first activation: the launch sequence. Started with the desktop session, Brindle
    // launches in the background, and no window shows until it is reopened.
    enum class LaunchMode { withWindow, inBackground };
    virtual void launch(LaunchMode mode) = 0;
    // Brindle was launched again, or its icon activated, while it runs.
    virtual void reopen() = 0;
    // A menu item was chosen (Show Brindle) or a notification was clicked.
    virtual void presentWindow() = 0;
    // The user asked to quit (the menu, Ctrl+Q). The answer, true to quit now and false to keep
    // running, may come later, once a question has been answered.
    virtual void confirmQuit(std::function<void(bool quit)> answer) = 0;
};

} // namespace brindle
