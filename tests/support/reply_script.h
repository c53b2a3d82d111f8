#pragma once

#include "bridge/intake.h"

#include <optional>
#include <rapidjson/document.h>
#include <string>

namespace brindle::testing {

// The reply object inside a reply script, or none when the script is malformed in any way.
struct PageReply {
    std::int64_t id = 0;
    ReplyValue value;
    std::optional<std::string> error;
    bool operator==(PageReply const&) const = default;
};

inline std::optional<PageReply> parseReply(std::string const& script)
{
    std::string const start = "(() => {const r=",
                      end = ";window.__brindleReply?.(r.id, r.value, r.error);})()";
    if (!script.starts_with(start) || !script.ends_with(end) || script.size() < start.size() + end.size()
        || script.find_first_of("\n\r") != script.npos || script.find("\u2028") != script.npos
        || script.find("\u2029") != script.npos)
        return std::nullopt;
    rapidjson::Document r;
    r.Parse<rapidjson::kParseValidateEncodingFlag>(
        script.data() + start.size(), script.size() - start.size() - end.size());
    if (r.HasParseError() || !r.IsObject() || r.MemberCount() != 3 || !r.HasMember("id") || !r["id"].IsInt64()
        || !r.HasMember("value") || !(r["value"].IsBool() || r["value"].IsString()) || !r.HasMember("error")
        || !(r["error"].IsNull() || r["error"].IsString()))
        return std::nullopt;
    auto text = [](auto const& v) { return std::string(v.GetString(), v.GetStringLength()); };
    return PageReply { r["id"].GetInt64(),
        r["value"].IsBool() ? ReplyValue(r["value"].GetBool()) : text(r["value"]),
        r["error"].IsString() ? std::optional(text(r["error"])) : std::nullopt };
}

} // namespace brindle::testing
