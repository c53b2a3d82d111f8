#include "bridge/script_json.h"

#include <limits>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace brindle {

void escapeLineSeparators(std::string& json)
{
    // U+2028 and U+2029 are E2 80 A8 and E2 80 A9 in UTF-8. Outside strings JSON text is
    // ASCII, so every occurrence lies inside a string, where an escape means the same.
    std::string::size_type at = 0;
    while ((at = json.find("\xE2\x80", at)) != std::string::npos) {
        if (at + 2 < json.size() && (json[at + 2] == '\xA8' || json[at + 2] == '\xA9')) {
            json.replace(at, 3, json[at + 2] == '\xA8' ? "\\u2028" : "\\u2029");
            at += 6;
        } else {
            at += 2;
        }
    }
}

std::optional<std::string> scriptStringLiteral(std::string_view text)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, rapidjson::CrtAllocator,
        rapidjson::kWriteValidateEncodingFlag>
        writer(buffer);
    if (text.size() > std::numeric_limits<rapidjson::SizeType>::max())
        return std::nullopt;
    if (!writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size())))
        return std::nullopt;
    std::string literal(buffer.GetString(), buffer.GetSize());
    escapeLineSeparators(literal);
    return literal;
}

} // namespace brindle
