#include "schedule/fired_store.h"

#include "text/json.h"

namespace brindle {

namespace {

bool writeFired(JsonWriter& writer, std::vector<std::string> const& keys)
{
    if (!writeJsonKey(writer, firedDefaultsKey) || !writer.StartArray())
        return false;
    for (auto const& key : keys) {
        if (!writeJsonText(writer, key))
            return false;
    }
    return writer.EndArray();
}

// Copies a defaults object from the reader to the writer event by event, leaving out every
// top-level "fired" member and adding the new one before the object closes. Streaming keeps
// the other members exactly as they were (numbers as written) and, unlike a walk over a parsed
// document, needs no call stack however deeply they nest.
class FiredReplacer : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FiredReplacer> {
public:
    FiredReplacer(JsonWriter& writer, std::vector<std::string> const& keys)
        : writer_(writer)
        , keys_(keys)
    {
    }

    bool Null()
    {
        return scalar([&] { return writer_.Null(); });
    }
    bool Bool(bool value)
    {
        return scalar([&] { return writer_.Bool(value); });
    }
    bool RawNumber(char const* text, rapidjson::SizeType length, bool)
    {
        return scalar([&] { return writer_.RawValue(text, length, rapidjson::kNumberType); });
    }
    bool String(char const* text, rapidjson::SizeType length, bool)
    {
        return scalar([&] { return writeJsonText(writer_, { text, length }); });
    }
    bool Key(char const* text, rapidjson::SizeType length, bool)
    {
        if (depth_ == 1 && std::string_view(text, length) == firedDefaultsKey) {
            skipping_ = true;
            return true;
        }
        return skipping_ || writeJsonKey(writer_, { text, length });
    }
    bool StartObject()
    {
        if (depth_ == 0)
            isObject_ = true;
        return open([&] { return writer_.StartObject(); });
    }
    bool EndObject(rapidjson::SizeType)
    {
        if (depth_ == 1 && !skipping_ && !writeFired(writer_, keys_))
            return false;
        return close([&] { return writer_.EndObject(); });
    }
    bool StartArray()
    {
        // The defaults must be an object; anything else is replaced whole.
        if (depth_ == 0)
            return false;
        return open([&] { return writer_.StartArray(); });
    }
    bool EndArray(rapidjson::SizeType)
    {
        return close([&] { return writer_.EndArray(); });
    }
    // Every other value reaches here only at the top level, where the defaults must be an object.
    bool Default() { return false; }

    bool isObject() const { return isObject_; }

private:
    template <typename Write> bool scalar(Write write)
    {
        if (depth_ == 0)
            return false;
        if (skipping_) {
            skipping_ = skipDepth_ > 0;
            return true;
        }
        return write();
    }
    template <typename Write> bool open(Write write)
    {
        ++depth_;
        if (skipping_) {
            ++skipDepth_;
            return true;
        }
        return write();
    }
    template <typename Write> bool close(Write write)
    {
        --depth_;
        if (skipping_) {
            skipping_ = --skipDepth_ > 0;
            return true;
        }
        return write();
    }

    JsonWriter& writer_;
    std::vector<std::string> const& keys_;
    std::size_t depth_ = 0;
    std::size_t skipDepth_ = 0;
    bool skipping_ = false;
    bool isObject_ = false;
};

// Empty only when a key is not valid UTF-8, which no key read from a page or a file can be.
std::string freshDefaults(std::vector<std::string> const& keys)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    if (!writer.StartObject() || !writeFired(writer, keys) || !writer.EndObject())
        return {};
    return std::string(buffer.GetString(), buffer.GetSize());
}

} // namespace

std::optional<std::vector<std::string>> readFiredDefaults(std::string_view defaultsJson)
{
    JsonDocument document;
    if (!document.parse(defaultsJson) || !document.root().IsObject())
        return std::nullopt;
    auto const* fired = findMember(document.root(), firedDefaultsKey);
    if (!fired || !fired->IsArray())
        return std::nullopt;

    std::vector<std::string> keys;
    keys.reserve(fired->Size());
    for (auto const& element : fired->GetArray()) {
        if (!element.IsString())
            return std::nullopt;
        keys.emplace_back(element.GetString(), element.GetStringLength());
    }
    return keys;
}

std::string writeFiredDefaults(
    std::optional<std::string_view> defaultsJson, std::vector<std::string> const& keys)
{
    if (!defaultsJson)
        return freshDefaults(keys);
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    FiredReplacer replacer(writer, keys);
    if (!readJsonEvents<rapidjson::kParseNumbersAsStringsFlag>(*defaultsJson, replacer)
        || !replacer.isObject())
        return freshDefaults(keys);
    return std::string(buffer.GetString(), buffer.GetSize());
}

} // namespace brindle
