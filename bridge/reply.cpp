#include "bridge/reply.h"

#include "text/json.h"

#include <string_view>

namespace brindle {

namespace {

constexpr std::string_view replyScriptStart = "(() => {const r=";
constexpr std::string_view replyScriptEnd = ";window.__brindleReply?.(r.id, r.value, r.error);})()";

bool writeValue(JsonWriter& writer, ReplyValue const& value)
{
    if (auto const* flag = std::get_if<bool>(&value))
        return writer.Bool(*flag);
    return writeJsonText(writer, std::get<std::string>(value));
}

} // namespace

// The reply is JSON text inside a script that the page runs. The writer escapes quotes,
// backslashes and control characters, refuses text that is not valid UTF-8, and the line
// separators are escaped after it, so no value can end the script early or break out of it.
std::optional<std::string> replyScript(
    std::int64_t id, ReplyValue const& value, std::optional<std::string> const& error)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    bool written = writer.StartObject() && writeJsonKey(writer, "id") && writer.Int64(id)
        && writeJsonKey(writer, "value") && writeValue(writer, value) && writeJsonKey(writer, "error")
        && (error ? writeJsonText(writer, *error) : writer.Null()) && writer.EndObject();
    if (!written)
        return std::nullopt;

    std::string json = scriptJson({ buffer.GetString(), buffer.GetSize() });
    std::string script;
    script.reserve(replyScriptStart.size() + json.size() + replyScriptEnd.size());
    script.append(replyScriptStart).append(json).append(replyScriptEnd);
    return script;
}

} // namespace brindle
