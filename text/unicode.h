#pragma once

#include <string>
#include <string_view>

namespace brindle {

// Brindle compares texts (keys, modes, method names, sound names, task ids, fired keys, hosts,
// schemes) exactly and with case, but counts the composed and decomposed spellings of the same
// characters as equal; every such comparison goes through sameText. canonicalText gives the
// composed (NFC) spelling of the whole text, NUL characters included; ASCII and invalid UTF-8
// come back unchanged.
std::string canonicalText(std::string_view text);
bool sameText(std::string_view a, std::string_view b);
bool isAscii(std::string_view text);

} // namespace brindle
