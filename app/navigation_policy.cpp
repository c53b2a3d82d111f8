#include "app/app_delegate.h"
#include "text/unicode.h"

#include <array>

namespace brindle {

namespace {

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

// Only secure pages of the planner's host stay in the window; other secure addresses and the
// downloads above open in the default browser; every other scheme goes nowhere.
NavigationPolicy AppDelegate::decidePolicyForNavigation(std::optional<NavigationUrl> const& url)
{
    if (!url)
        return NavigationPolicy::cancel;
    bool secure = url->scheme && sameText(*url->scheme, "https");
    if (secure && url->host && sameText(*url->host, appHost_)) {
        auto extension = pathExtension(url->path);
        for (auto external : externalExtensions) {
            if (sameText(extension, external)) {
                platform_.openURL(url->text);
                return NavigationPolicy::cancel;
            }
        }
        return NavigationPolicy::allow;
    }
    if (secure)
        platform_.openURL(url->text);
    return NavigationPolicy::cancel;
}

} // namespace brindle
