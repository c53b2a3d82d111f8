#include "text/json.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace brindle {

namespace {

constexpr std::string_view replacementEscape = "\\ufffd";

// The value of four hex digits at the start of the text, or none.
std::optional<unsigned> hexQuad(std::string_view text)
{
    if (text.size() < 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text.substr(0, 4)) {
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            value |= static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value |= static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return value;
}

bool isHighSurrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The UTF-16 unit of a "\uXXXX" escape at the start of the text, or none.
std::optional<unsigned> unicodeEscape(std::string_view text)
{
    if (text.size() < 6 || text[0] != '\\' || text[1] != 'u')
        return std::nullopt;
    return hexQuad(text.substr(2));
}

bool fitsRapidJson(std::string_view text)
{
    return text.size() <= std::numeric_limits<rapidjson::SizeType>::max();
}

// Reads the JSON number at `at` as far as the parser takes it, moves `at` past it, and tells
// whether the number is beyond the largest double. Its order of magnitude settles that for all
// but the numbers from 1e308 up, which are read to see.
bool numberBeyondDouble(std::string_view json, std::string_view::size_type& at)
{
    auto const start = at;
    auto digits = [&] {
        auto const from = at;
        while (at < json.size() && json[at] >= '0' && json[at] <= '9')
            ++at;
        return json.substr(from, at - from);
    };
    auto next
        = [&](std::string_view oneOf) { return at < json.size() && oneOf.find(json[at]) != oneOf.npos; };
    at += next("-");
    auto const whole = digits();
    std::string_view fraction;
    if (next(".")) {
        ++at;
        fraction = digits();
    }
    long exponent = 0;
    if (next("eE")) {
        ++at;
        bool const negative = next("-");
        at += next("+-");
        for (char c : digits())
            exponent = std::min(exponent * 10 + (c - '0'), 1'000'000L);
        exponent = negative ? -exponent : exponent;
    }
    // The number is at least 10^(order - 1) and below 10^order.
    auto const firstWhole = whole.find_first_not_of('0');
    auto const firstFraction = fraction.find_first_not_of('0');
    if (firstWhole == whole.npos && firstFraction == fraction.npos)
        return false; // zero
    long const order = exponent
        + (firstWhole != whole.npos ? static_cast<long>(whole.size() - firstWhole)
                                    : -static_cast<long>(firstFraction));
    double value = 0;
    return order > std::numeric_limits<double>::max_exponent10 + 1
        || (order == std::numeric_limits<double>::max_exponent10 + 1
            && std::from_chars(json.data() + start, json.data() + at, value).ec
                == std::errc::result_out_of_range);
}

// Whether the text holds a number, outside its strings, that no double can hold. JSON.stringify
// never writes one (it writes null for what a double cannot hold), and the parser's exact
// reading of one gives a wrong value, a negative one among them, where it should refuse it.
bool holdsNumberBeyondDouble(std::string_view json)
{
    bool inString = false;
    std::string_view::size_type at = 0;
    while (at < json.size()) {
        if (inString && (at = json.find_first_of("\"\\", at)) == json.npos)
            break;
        char const c = json[at];
        if (!inString && (c == '-' || (c >= '0' && c <= '9'))) {
            if (numberBeyondDouble(json, at))
                return true;
            continue;
        }
        if (inString && c == '\\')
            ++at;
        else if (c == '"')
            inString = !inString;
        ++at;
    }
    return false;
}

} // namespace

std::string mendLoneSurrogates(std::string_view json)
{
    if (json.find("\\u") == std::string_view::npos)
        return std::string(json);
    std::string mended;
    mended.reserve(json.size());
    std::string_view::size_type at = 0;
    while (at < json.size()) {
        auto backslash = json.find('\\', at);
        if (backslash == std::string_view::npos) {
            mended.append(json.substr(at));
            break;
        }
        mended.append(json.substr(at, backslash - at));
        at = backslash;
        auto unit = unicodeEscape(json.substr(at));
        if (!unit) {
            // Any other escape, "\\" among them, is two characters taken as they are, so the
            // character after an escaped backslash never starts an escape of its own.
            mended.append(json.substr(at, 2));
            at += 2;
            continue;
        }
        if (isHighSurrogate(*unit)) {
            auto next = unicodeEscape(json.substr(at + 6));
            if (next && isLowSurrogate(*next)) {
                mended.append(json.substr(at, 12));
                at += 12;
            } else {
                mended.append(replacementEscape);
                at += 6;
            }
        } else if (isLowSurrogate(*unit)) {
            mended.append(replacementEscape);
            at += 6;
        } else {
            mended.append(json.substr(at, 6));
            at += 6;
        }
    }
    return mended;
}

std::optional<std::string> readableJson(std::string_view json)
{
    if (json.find('\0') != std::string_view::npos || !fitsRapidJson(json) || holdsNumberBeyondDouble(json))
        return std::nullopt;
    return mendLoneSurrogates(json);
}

bool JsonDocument::parse(std::string_view json)
{
    parsed_.reset();
    auto text = readableJson(json);
    if (!text)
        return false;
    // Parsing in place spares the parser a copy of every string: the store file can be large
    // and is read whole at every launch.
    auto parsed = std::make_unique<Parsed>();
    parsed->text = std::move(*text);
    parsed->document.ParseInsitu<jsonParseFlags>(parsed->text.data());
    if (parsed->document.HasParseError())
        return false;
    parsed_ = std::move(parsed);
    return true;
}

rapidjson::Value const& JsonDocument::root() const
{
    static rapidjson::Value const none;
    return parsed_ ? parsed_->document : none;
}

rapidjson::Value const* findMember(rapidjson::Value const& object, std::string_view name)
{
    if (!object.IsObject())
        return nullptr;
    rapidjson::Value const* found = nullptr;
    for (auto const& member : object.GetObject()) {
        if (textOf(member.name) == name)
            found = &member.value;
    }
    return found;
}

bool writeJsonText(JsonWriter& writer, std::string_view text)
{
    return fitsRapidJson(text) && writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

bool writeJsonKey(JsonWriter& writer, std::string_view name)
{
    return fitsRapidJson(name) && writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
}

std::string scriptJson(std::string_view json)
{
    // U+2028 and U+2029 are E2 80 A8 and E2 80 A9 in UTF-8. Outside strings JSON text is
    // ASCII, so every occurrence lies inside a string, where an escape means the same.
    std::string script;
    script.reserve(json.size());
    std::string_view::size_type at = 0;
    while (at < json.size()) {
        auto found = json.find("\xE2\x80", at);
        if (found == std::string_view::npos || found + 2 >= json.size()) {
            script.append(json.substr(at));
            break;
        }
        script.append(json.substr(at, found - at));
        char last = json[found + 2];
        if (last == '\xA8' || last == '\xA9') {
            script.append(last == '\xA8' ? "\\u2028" : "\\u2029");
            at = found + 3;
        } else {
            script.append(json.substr(found, 2));
            at = found + 2;
        }
    }
    return script;
}

std::optional<std::string> scriptStringLiteral(std::string_view text)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    if (!writeJsonText(writer, text))
        return std::nullopt;
    return scriptJson({ buffer.GetString(), buffer.GetSize() });
}

} // namespace brindle
