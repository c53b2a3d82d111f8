#include "schedule/user_defaults.h"

#include "app/app_delegate.h"
#include "build_config.h"
#include "schedule/alarm_json.h"

#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace brindle {

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void writeFired(JsonWriter& writer, std::vector<std::string> const& keys)
{
    writer.Key(firedDefaultsKey.data(), static_cast<rapidjson::SizeType>(firedDefaultsKey.size()));
    writer.StartArray();
    for (auto const& key : keys)
        writer.String(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    writer.EndArray();
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
        return scalar([&] { return writer_.String(text, length); });
    }
    bool Key(char const* text, rapidjson::SizeType length, bool)
    {
        if (depth_ == 1 && std::string_view(text, length) == firedDefaultsKey) {
            skipping_ = true;
            return true;
        }
        return skipping_ || writer_.Key(text, length);
    }
    bool StartObject()
    {
        if (depth_ == 0)
            isObject_ = true;
        return open([&] { return writer_.StartObject(); });
    }
    bool EndObject(rapidjson::SizeType)
    {
        if (depth_ == 1 && !skipping_)
            writeFired(writer_, keys_);
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

std::string freshDefaults(std::vector<std::string> const& keys)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writeFired(writer, keys);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::optional<std::string> defaultsFolder(Platform& platform)
{
    auto config = platform.userConfigDirectory();
    if (!config)
        return std::nullopt;
    return *config + "/" + build::folderName;
}

std::string defaultsFile(std::string const& folder)
{
    return folder + "/defaults.json";
}

} // namespace

std::optional<std::vector<std::string>> readFiredDefaults(std::string_view defaultsJson)
{
    rapidjson::Document document;
    if (!parseJson(document, defaultsJson) || !document.IsObject())
        return std::nullopt;

    // A name given twice counts with its last value, as everywhere else Brindle reads JSON.
    rapidjson::Value const& root = document;
    rapidjson::Value const* fired = nullptr;
    for (auto const& member : root.GetObject()) {
        if (std::string_view(member.name.GetString(), member.name.GetStringLength()) == firedDefaultsKey)
            fired = &member.value;
    }
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
    if (!defaultsJson || defaultsJson->find('\0') != std::string_view::npos)
        return freshDefaults(keys);

    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    FiredReplacer replacer(writer, keys);
    rapidjson::Reader reader;
    rapidjson::MemoryStream memory(defaultsJson->data(), defaultsJson->size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(memory);
    reader.Parse<jsonParseFlags | rapidjson::kParseNumbersAsStringsFlag>(stream, replacer);
    if (reader.HasParseError() || !replacer.isObject())
        return freshDefaults(keys);
    return std::string(buffer.GetString(), buffer.GetSize());
}

void AppDelegate::loadFired()
{
    FiredSet fired;
    if (auto folder = defaultsFolder(platform_)) {
        if (auto text = platform_.readFile(defaultsFile(*folder))) {
            for (auto& key : readFiredDefaults(*text).value_or(std::vector<std::string> {}))
                fired.insert(std::move(key));
        }
    }
    fired_ = std::move(fired);
}

void AppDelegate::storeFired()
{
    auto folder = defaultsFolder(platform_);
    if (!folder)
        return;
    platform_.createDirectories(*folder);
    auto path = defaultsFile(*folder);
    auto existing = platform_.readFile(path);
    auto text = writeFiredDefaults(existing ? std::optional<std::string_view>(*existing) : std::nullopt,
        fired_.mostRecent(storedFiredLimit));
    platform_.writeFileAtomically(path, text);
}

} // namespace brindle
