#pragma once

#include <string>
#include <string_view>

namespace brindle {

// Brindle compares texts (keys, modes, method names, hosts) exactly and with case, but counts
// the composed and decomposed spellings of the same characters as equal. canonicalText gives
// the composed (NFC) spelling; ASCII and invalid UTF-8 come back unchanged.
std::string canonicalText(std::string_view text);
bool sameText(std::string_view a, std::string_view b);

} // namespace brindle
