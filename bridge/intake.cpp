#include "bridge/bridge_request.h"
#include "platform/unicode.h"
#include "schedule/alarm_json.h"

#include <cmath>

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

// JavaScript numbers arrive as doubles, so an id may be a whole number in floating form (3.0).
// The range test is written against 2^63 itself, which a double holds exactly, because
// INT64_MAX rounds up to 2^63 as a double and would let 2^63 through.
std::optional<std::int64_t> integralId(rapidjson::Value const& value)
{
    if (value.IsInt64())
        return value.GetInt64();
    if (!value.IsDouble())
        return std::nullopt;
    double number = value.GetDouble();
    constexpr double twoTo63 = 9223372036854775808.0;
    if (!std::isfinite(number) || std::trunc(number) != number || number < -twoTo63 || number >= twoTo63)
        return std::nullopt;
    // -0.0 converts to 0.
    return static_cast<std::int64_t>(number);
}

} // namespace

RequestData const* findMember(RequestData const& object, std::string_view name)
{
    if (!object.IsObject())
        return nullptr;
    RequestData const* found = nullptr;
    for (auto const& member : object.GetObject()) {
        if (std::string_view(member.name.GetString(), member.name.GetStringLength()) == name)
            found = &member.value;
    }
    return found;
}

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

// The checks run in a fixed order and the first that fails drops the message: the frame and
// its origin come from Brindle's own script world, which the page cannot reach, and only then
// is the page's text looked at.
std::optional<BridgeRequest> readRequest(ScriptMessage const& message, std::string_view appHost)
{
    if (!message.isMainFrame)
        return std::nullopt;
    if (!sameText(message.protocol, "https"))
        return std::nullopt;
    if (!sameText(message.host, appHost))
        return std::nullopt;

    std::optional<BridgeRequest> request(std::in_place);
    std::string body = mendLoneSurrogates(message.body);
    request->body_.Parse<jsonParseFlags>(body.data(), body.size());
    if (request->body_.HasParseError() || !request->body_.IsObject())
        return std::nullopt;

    auto const* id = findMember(request->body_, "id");
    if (!id)
        return std::nullopt;
    auto number = integralId(*id);
    if (!number)
        return std::nullopt;
    request->id = *number;

    auto const* method = findMember(request->body_, "method");
    if (!method || !method->IsString())
        return std::nullopt;
    request->method.assign(method->GetString(), method->GetStringLength());

    auto const* data = findMember(request->body_, "data");
    if (data && data->IsObject())
        request->data_ = data;
    return request;
}

} // namespace brindle
