#pragma once

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/web_view.h"

#include <memory>
#include <optional>
#include <string>

namespace brindle {

// The main window and the planner page in it: the page's address, which navigations stay in
// the window, and bringing the page back when its web process went away.
class PlannerWindow {
public:
    // Creates the web view and the window around it, hidden; `onScriptMessage` receives what the
    // page posts. The port goes into the page's address only.
    PlannerWindow(Clock& clock, Desktop& desktop, std::string appHost, std::string appPort,
        std::function<void(ScriptMessage const&)> onScriptMessage);

    void load();
    void present() { window_->present(); }
    WebView& webView() { return *webView_; }
    std::string pageAddress() const;

    NavigationPolicy decideNavigation(std::optional<NavigationUrl> const& url);
    void webProcessTerminated();

private:
    Clock& clock_;
    Desktop& desktop_;
    std::string const appHost_;
    std::string const appPort_;
    std::unique_ptr<WebView> webView_;
    std::unique_ptr<Window> window_;
    // When the web process last went away and the page was reloaded, to keep a crashing page
    // from being reloaded in a tight loop.
    std::optional<double> lastReloadMs_;
    std::unique_ptr<Timer> reloadTimer_;
};

} // namespace brindle
