#include "app/app_delegate.h"
#include "bridge/script_json.h"

#include <limits>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string_view>

namespace brindle {

namespace {

constexpr std::string_view replyScriptStart = "(() => {const r=";
constexpr std::string_view replyScriptEnd = ";window.__brindleReply?.(r.id, r.value, r.error);})()";

using ReplyWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
    rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

bool writeText(ReplyWriter& writer, std::string_view text)
{
    if (text.size() > std::numeric_limits<rapidjson::SizeType>::max())
        return false;
    return writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

bool writeValue(ReplyWriter& writer, ReplyValue const& value)
{
    if (auto const* flag = std::get_if<bool>(&value))
        return writer.Bool(*flag);
    return writeText(writer, std::get<std::string>(value));
}

} // namespace

// The reply is JSON text inside a script that the page runs. The writer escapes quotes,
// backslashes and control characters, refuses text that is not valid UTF-8, and the line
// separators are escaped after it, so no value can end the script early or break out of it.
void AppDelegate::reply(std::int64_t id, ReplyValue const& value, std::optional<std::string> const& error)
{
    if (!webView_)
        return;
    rapidjson::StringBuffer buffer;
    ReplyWriter writer(buffer);
    bool written = writer.StartObject() && writer.Key("id") && writer.Int64(id) && writer.Key("value")
        && writeValue(writer, value) && writer.Key("error")
        && (error ? writeText(writer, *error) : writer.Null()) && writer.EndObject();
    if (!written)
        return;

    std::string json(buffer.GetString(), buffer.GetSize());
    escapeLineSeparators(json);
    std::string script;
    script.reserve(replyScriptStart.size() + json.size() + replyScriptEnd.size());
    script.append(replyScriptStart).append(json).append(replyScriptEnd);
    webView_->evaluateJavaScript(script);
}

} // namespace brindle
