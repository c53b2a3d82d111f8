#include "text/unicode.h"

#include <algorithm>
#include <glib.h>

namespace brindle {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// GLib's normalisation stops at the first NUL even when given a length, so the text is composed
// piece by piece between its NULs. A NUL combines with nothing, so the pieces compose alone
// exactly as they would within the whole text.
std::string canonicalText(std::string_view text)
{
    if (isAscii(text))
        return std::string(text);
    std::string composed;
    composed.reserve(text.size());
    for (std::string_view::size_type start = 0;;) {
        auto end = std::min(text.find('\0', start), text.size());
        auto piece = text.substr(start, end - start);
        g_autofree gchar* normal
            = g_utf8_normalize(piece.data(), static_cast<gssize>(piece.size()), G_NORMALIZE_NFC);
        if (!normal)
            return std::string(text);
        composed.append(normal);
        if (end == text.size())
            return composed;
        composed.push_back('\0');
        start = end + 1;
    }
}

bool sameText(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    return canonicalText(a) == canonicalText(b);
}

} // namespace brindle
