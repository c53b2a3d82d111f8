#include "app/planner_window.h"

#include "bridge/page_script.h"
#include "text/unicode.h"

#include <algorithm>
#include <array>

namespace brindle {

namespace {

constexpr int mainWindowWidth = 1060;
constexpr int mainWindowHeight = 780;
constexpr int pageTimeoutSeconds = 60;
// A page whose web process keeps dying is reloaded at most this often.
constexpr double minimumReloadSpacingMs = 10'000.0;

// Downloads that belong in the browser even on the planner's own host.
constexpr std::array<std::string_view, 2> externalExtensions { "apk", "dmg" };

// The part of the last path component after its last ".", or nothing.
std::string_view pathExtension(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    auto slash = path.find_last_of('/');
    std::string_view component = slash == std::string_view::npos ? path : path.substr(slash + 1);
    auto dot = component.find_last_of('.');
    if (dot == std::string_view::npos)
        return {};
    return component.substr(dot + 1);
}

} // namespace

PlannerWindow::PlannerWindow(Clock& clock, Desktop& desktop, std::string appHost, std::string appPort,
    std::function<void(ScriptMessage const&)> onScriptMessage)
    : clock_(clock)
    , desktop_(desktop)
    , appHost_(std::move(appHost))
    , appPort_(std::move(appPort))
{
    WebViewConfig config;
    config.pageScript = pageScript(appHost_);
    config.handlerName = std::string(messageHandlerName);
    config.onScriptMessage = std::move(onScriptMessage);
    config.decideNavigation
        = [this](std::optional<NavigationUrl> const& url) { return decideNavigation(url); };
    config.onWebProcessTerminated = [this] { webProcessTerminated(); };
    webView_ = desktop_.createWebView(std::move(config));
    window_ = desktop_.createMainWindow({ "Brindle", mainWindowWidth, mainWindowHeight }, *webView_);
}

void PlannerWindow::load()
{
    webView_->load(pageAddress(), pageTimeoutSeconds);
}

std::string PlannerWindow::pageAddress() const
{
    std::string address = "https://" + appHost_;
    if (!appPort_.empty())
        address += ":" + appPort_;
    return address + "/planner";
}

// Only secure pages of the planner's host stay in the window; other secure addresses and the
// downloads above open in the default browser; every other scheme goes nowhere.
NavigationPolicy PlannerWindow::decideNavigation(std::optional<NavigationUrl> const& url)
{
    if (!url)
        return NavigationPolicy::cancel;
    bool secure = url->scheme && sameText(*url->scheme, "https");
    if (secure && url->host && sameText(*url->host, appHost_)) {
        auto extension = pathExtension(url->path);
        for (auto external : externalExtensions) {
            if (sameText(extension, external)) {
                desktop_.openUri(url->text);
                return NavigationPolicy::cancel;
            }
        }
        return NavigationPolicy::allow;
    }
    if (secure)
        desktop_.openUri(url->text);
    return NavigationPolicy::cancel;
}

// The web process crashed or was killed, leaving the window blank. Alarms never depended on the
// page, so they go on ringing; the page is brought back, but not in a tight loop.
void PlannerWindow::webProcessTerminated()
{
    if (reloadTimer_)
        return;
    double now = clock_.nowMs();
    double wait = lastReloadMs_ ? *lastReloadMs_ + minimumReloadSpacingMs - now : 0;
    // The spacing is read off the wall clock; when that clock has been set back, the wait is
    // still never longer than the spacing itself.
    wait = std::min(wait, minimumReloadSpacingMs);
    if (wait <= 0) {
        lastReloadMs_ = now;
        webView_->reload();
        return;
    }
    reloadTimer_ = clock_.startTimer(wait / 1000.0, false, [this] {
        lastReloadMs_ = clock_.nowMs();
        webView_->reload();
        // Last: this destroys the running timer, which is safe from its own callback.
        reloadTimer_.reset();
    });
}

} // namespace brindle
