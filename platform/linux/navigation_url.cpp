#include "platform/linux/navigation_url.h"

#include <glib.h>
#include <string>
#include <string_view>

namespace brindle::native {

namespace {

// WebKit keeps a "%" that starts no escape as it is, as the URL Standard says ("/50%-off",
// "?q=100%"), where GLib refuses the whole address; such a "%" is read as the escape of itself.
std::string escapeStrayPercents(std::string_view uri)
{
    std::string escaped;
    escaped.reserve(uri.size());
    for (std::size_t at = 0; at < uri.size(); ++at) {
        escaped.push_back(uri[at]);
        if (uri[at] == '%'
            && (at + 2 >= uri.size() || !g_ascii_isxdigit(uri[at + 1]) || !g_ascii_isxdigit(uri[at + 2])))
            escaped.append("25");
    }
    return escaped;
}

} // namespace

std::optional<NavigationUrl> parseNavigationUrl(char const* uri)
{
    if (!uri || !*uri)
        return std::nullopt;
    // The path stays encoded while parsing so that an escape which does not decode to valid
    // UTF-8 cannot make the whole address unreadable; it is decoded byte for byte below.
    GUriFlags const flags = static_cast<GUriFlags>(
        G_URI_FLAGS_ENCODED_PATH | G_URI_FLAGS_ENCODED_QUERY | G_URI_FLAGS_ENCODED_FRAGMENT);
    g_autoptr(GUri) parsed = g_uri_parse(escapeStrayPercents(uri).c_str(), flags, nullptr);
    if (!parsed)
        return std::nullopt;

    NavigationUrl url;
    url.text = uri;
    if (auto const* scheme = g_uri_get_scheme(parsed))
        url.scheme = scheme;
    if (auto const* host = g_uri_get_host(parsed); host && *host)
        url.host = host;
    char const* path = g_uri_get_path(parsed);
    g_autoptr(GBytes) decoded = path ? g_uri_unescape_bytes(path, -1, nullptr, nullptr) : nullptr;
    if (decoded) {
        gsize size = 0;
        auto const* bytes = static_cast<char const*>(g_bytes_get_data(decoded, &size));
        url.path.assign(bytes ? bytes : "", size);
    } else if (path) {
        url.path = path;
    }
    return url;
}

} // namespace brindle::native
