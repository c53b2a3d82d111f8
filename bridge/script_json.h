#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// JSON text is placed into scripts that Brindle has the web view run. JSON is valid JavaScript,
// but older engines end a line at a raw U+2028 or U+2029 inside a string literal, so these two
// are written as escapes as well.
void escapeLineSeparators(std::string& json);

// The text as a JSON string literal with its quotes, safe to place in a script; none when the
// text is not valid UTF-8.
std::optional<std::string> scriptStringLiteral(std::string_view text);

} // namespace brindle
