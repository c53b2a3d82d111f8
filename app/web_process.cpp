#include "app/app_delegate.h"

#include <algorithm>

namespace brindle {

namespace {

// A page whose web process keeps dying is reloaded at most this often.
constexpr double minimumReloadSpacingMs = 10'000.0;

} // namespace

// The web process crashed or was killed, leaving the window blank. Alarms never depended on
// the page, so they go on ringing; the page is brought back, but not in a tight loop.
void AppDelegate::webProcessTerminated()
{
    if (!webView_ || webProcessReloadPending_)
        return;
    double now = platform_.nowMs();
    double wait = lastWebProcessReloadMs_ ? *lastWebProcessReloadMs_ + minimumReloadSpacingMs - now : 0;
    // The spacing is read off the wall clock; when that clock has been set back, the wait is
    // still never longer than the spacing itself.
    wait = std::min(wait, minimumReloadSpacingMs);
    if (wait <= 0) {
        lastWebProcessReloadMs_ = now;
        webView_->reload();
        return;
    }
    webProcessReloadPending_ = true;
    webProcessReloadTimer_ = platform_.scheduleTimer(wait / 1000.0, false, [this] {
        webProcessReloadPending_ = false;
        lastWebProcessReloadMs_ = platform_.nowMs();
        webView_->reload();
    });
}

} // namespace brindle
