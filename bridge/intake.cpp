#include "bridge/intake.h"

#include "text/unicode.h"

#include <cmath>

namespace brindle {

namespace {

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
    if (!request->body_.parse(message.body) || !request->body_.root().IsObject())
        return std::nullopt;
    auto const& body = request->body_.root();

    auto const* id = findMember(body, "id");
    if (!id)
        return std::nullopt;
    auto number = integralId(*id);
    if (!number)
        return std::nullopt;
    request->id = *number;

    auto const* method = findMember(body, "method");
    if (!method || !method->IsString())
        return std::nullopt;
    request->method.assign(method->GetString(), method->GetStringLength());

    auto const* data = findMember(body, "data");
    if (data && data->IsObject())
        request->data_ = data;
    return request;
}

} // namespace brindle
