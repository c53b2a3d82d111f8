#pragma once

// Every JSON text that Brindle reads (the store, the defaults, the page's envelopes, the relay's
// messages) and every one it writes (the store, the defaults, replies and the literals in its
// scripts) goes through here, so each rule about JSON holds in one place.

#include <memory>
#include <optional>
#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string>
#include <string_view>

namespace brindle {

// Invalid UTF-8 is refused at the door, nesting of any depth is parsed without using the call
// stack, and numbers are read exactly, so that an "at" with a fraction reads back as the very
// double that was written.
inline constexpr unsigned jsonParseFlags = rapidjson::kParseValidateEncodingFlag
    | rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag;

// JSON.stringify, and whoever edited a file by hand, may write a lone UTF-16 surrogate as an
// escape such as "\ud800", which has no UTF-8 form: read as it is, it would come back out as
// bytes that no reader takes. This gives the JSON text with every such escape replaced by
// "\ufffd", and with proper surrogate pairs and everything else as it was.
std::string mendLoneSurrogates(std::string_view json);

// The text as Brindle reads it: none when it holds a NUL byte, which is never valid JSON but
// which the parser takes for the end of the text, accepting whatever came before, or a number
// beyond the largest double, which the parser reads as some other value; otherwise the text
// with its lone surrogates mended.
std::optional<std::string> readableJson(std::string_view json);

// One parsed JSON text. Its strings point into the copy of the text it keeps, and both stay
// where they are when the document is moved.
class JsonDocument {
public:
    // False, and a null root, when the text is not one whole JSON value.
    bool parse(std::string_view json);
    rapidjson::Value const& root() const;

private:
    struct Parsed {
        std::string text;
        rapidjson::Document document;
    };
    std::unique_ptr<Parsed> parsed_;
};

// Runs a streaming handler over the text by the same rules; `extraFlags` may only add ways of
// reporting values (numbers as text), never loosen a check.
template <unsigned extraFlags, typename Handler> bool readJsonEvents(std::string_view json, Handler& handler)
{
    auto text = readableJson(json);
    if (!text)
        return false;
    rapidjson::Reader reader;
    rapidjson::MemoryStream memory(text->data(), text->size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(memory);
    reader.Parse<jsonParseFlags | extraFlags>(stream, handler);
    return !reader.HasParseError();
}

// The member of a JSON object with the given name, or none. A name given twice counts with its
// last value, as the page's own JSON.parse reads it. Names are JSON syntax and match exactly.
rapidjson::Value const* findMember(rapidjson::Value const& object, std::string_view name);

inline std::string_view textOf(rapidjson::Value const& string)
{
    return { string.GetString(), string.GetStringLength() };
}

// Writes compact JSON and refuses text that is not valid UTF-8, so nothing Brindle writes
// fails to read again.
using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
    rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;
bool writeJsonText(JsonWriter& writer, std::string_view text);
bool writeJsonKey(JsonWriter& writer, std::string_view name);

// JSON text placed into a script that the web view runs. JSON is valid JavaScript, but older
// engines end a line at a raw U+2028 or U+2029 inside a string literal, so these two are
// written as escapes as well.
std::string scriptJson(std::string_view json);

// The text as a JSON string literal with its quotes, safe to place in a script; none when the
// text is not valid UTF-8.
std::optional<std::string> scriptStringLiteral(std::string_view text);

} // namespace brindle
