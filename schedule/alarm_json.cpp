#include "schedule/alarm_json.h"

#include "text/json.h"

#include <array>
#include <charconv>
#include <cmath>

namespace brindle {

namespace {

enum Field : std::size_t { keyField, atField, titleField, soundField, modeField, baseKeyField, fieldCount };

constexpr std::array<std::string_view, fieldCount> fieldNames { "key", "at", "title", "sound", "mode",
    "baseKey" };

std::optional<std::string> requiredText(rapidjson::Value const* value)
{
    if (!value || !value->IsString())
        return std::nullopt;
    return std::string(textOf(*value));
}

// Writes a time as the shortest digits that read back as the same double. Plain positional
// notation keeps the file readable for every time that can be due; only values far outside
// that range fall back to an exponent.
bool writeTime(JsonWriter& writer, double at)
{
    if (!std::isfinite(at))
        return false;
    std::array<char, 64> digits;
    if (at == 0 && std::signbit(at))
        return writer.RawValue("-0.0", 4, rapidjson::kNumberType);
    auto written = std::to_chars(digits.data(), digits.data() + 32, at, std::chars_format::fixed);
    if (written.ec != std::errc {})
        written = std::to_chars(digits.data(), digits.data() + digits.size(), at);
    return writer.RawValue(
        digits.data(), static_cast<std::size_t>(written.ptr - digits.data()), rapidjson::kNumberType);
}

bool writeText(JsonWriter& writer, std::string_view name, std::string_view text)
{
    return writeJsonKey(writer, name) && writeJsonText(writer, text);
}

} // namespace

std::optional<Alarm> decodeAlarm(rapidjson::Value const& object)
{
    if (!object.IsObject())
        return std::nullopt;

    std::array<rapidjson::Value const*, fieldCount> fields {};
    for (std::size_t field = 0; field < fieldCount; ++field)
        fields[field] = findMember(object, fieldNames[field]);

    Alarm alarm;
    auto key = requiredText(fields[keyField]);
    auto title = requiredText(fields[titleField]);
    auto sound = requiredText(fields[soundField]);
    auto mode = requiredText(fields[modeField]);
    if (!key || !title || !sound || !mode || !fields[atField] || !fields[atField]->IsNumber())
        return std::nullopt;
    alarm.key = std::move(*key);
    alarm.at = fields[atField]->GetDouble();
    alarm.title = std::move(*title);
    alarm.sound = std::move(*sound);
    alarm.mode = std::move(*mode);
    if (auto const* baseKey = fields[baseKeyField]; baseKey && !baseKey->IsNull()) {
        if (!baseKey->IsString())
            return std::nullopt;
        alarm.baseKey = std::string(textOf(*baseKey));
    }
    return alarm;
}

std::optional<std::vector<Alarm>> decodeAlarms(rapidjson::Value const& array)
{
    if (!array.IsArray())
        return std::nullopt;
    std::vector<Alarm> alarms;
    alarms.reserve(array.Size());
    for (auto const& element : array.GetArray()) {
        auto alarm = decodeAlarm(element);
        if (!alarm)
            return std::nullopt;
        alarms.push_back(std::move(*alarm));
    }
    return alarms;
}

std::optional<std::vector<Alarm>> decodeAlarmsJson(std::string_view text)
{
    JsonDocument document;
    if (!document.parse(text))
        return std::nullopt;
    return decodeAlarms(document.root());
}

namespace {

bool writeAlarm(JsonWriter& writer, Alarm const& alarm)
{
    return writer.StartObject() && writeText(writer, fieldNames[keyField], alarm.key)
        && writeJsonKey(writer, fieldNames[atField]) && writeTime(writer, alarm.at)
        && writeText(writer, fieldNames[titleField], alarm.title)
        && writeText(writer, fieldNames[soundField], alarm.sound)
        && writeText(writer, fieldNames[modeField], alarm.mode)
        && (!alarm.baseKey || writeText(writer, fieldNames[baseKeyField], *alarm.baseKey))
        && writer.EndObject();
}

} // namespace

std::string encodeAlarmsJson(std::vector<Alarm> const& alarms)
{
    // Roughly what a typical record takes, so the buffer seldom has to grow.
    rapidjson::StringBuffer buffer(nullptr, 64 + alarms.size() * 160);
    JsonWriter writer(buffer);
    writer.StartArray();
    for (auto const& alarm : alarms) {
        if (!writeAlarm(writer, alarm))
            return {};
    }
    writer.EndArray();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string encodeRingJson(RingRecord const& ring)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    bool written = writer.StartObject() && writeJsonKey(writer, "since") && writeTime(writer, ring.sinceMs)
        && writeJsonKey(writer, "alarm") && writeAlarm(writer, ring.alarm) && writer.EndObject();
    return written ? std::string(buffer.GetString(), buffer.GetSize()) : std::string();
}

std::optional<RingRecord> decodeRingJson(std::string_view text)
{
    JsonDocument document;
    if (!document.parse(text) || !document.root().IsObject())
        return std::nullopt;
    auto const* since = findMember(document.root(), "since");
    auto const* alarm = findMember(document.root(), "alarm");
    if (!since || !since->IsNumber() || !alarm || !alarm->IsObject())
        return std::nullopt;
    auto decoded = decodeAlarm(*alarm);
    if (!decoded)
        return std::nullopt;
    return RingRecord { std::move(*decoded), since->GetDouble() };
}

} // namespace brindle
