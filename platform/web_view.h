#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

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
    // WebKit's "script-message-received", as the relay passed it on.
    std::function<void(ScriptMessage const&)> onScriptMessage;
    // WebKit's "decide-policy": asked for every navigation, of the main frame, of subframes and
    // of new-window requests.
    std::function<NavigationPolicy(std::optional<NavigationUrl> const&)> decideNavigation;
    // WebKit's "web-process-terminated": the view shows nothing until it is reloaded.
    std::function<void()> onWebProcessTerminated;
};

} // namespace brindle
