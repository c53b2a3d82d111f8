#include "platform/unicode.h"

#include <glib.h>

#include <algorithm>

namespace brindle {

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string canonicalText(std::string_view text)
{
    if (isAscii(text))
        return std::string(text);
    g_autofree gchar* composed = g_utf8_normalize(text.data(), static_cast<gssize>(text.size()), G_NORMALIZE_NFC);
    if (!composed)
        return std::string(text);
    return composed;
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
