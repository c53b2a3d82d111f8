#pragma once

#include "schedule/alarm.h"

#include <optional>
#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// How Brindle parses every JSON text it is handed. Invalid UTF-8 is refused at the door,
// nesting of any depth is parsed without using the call stack, and numbers are read exactly,
// so that an "at" with a fraction reads back as the very double that was written.
inline constexpr unsigned jsonParseFlags = rapidjson::kParseValidateEncodingFlag
    | rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag;

// Parses `text` with jsonParseFlags; false when it is not one whole JSON value. A NUL byte is
// never valid JSON, but the parser takes it for the end of the text and would accept whatever
// comes before it, so such text is refused here first.
bool parseJson(rapidjson::Document& document, std::string_view text);

// The JSON form of alarms, shared by the store file and the page's "schedule" request. Decoding
// a list is all or nothing: one bad element fails the whole list.
std::optional<Alarm> decodeAlarm(rapidjson::Value const& object);
std::optional<std::vector<Alarm>> decodeAlarms(rapidjson::Value const& array);
// Parses JSON text (which must be valid UTF-8) holding an array of alarm objects.
std::optional<std::vector<Alarm>> decodeAlarmsJson(std::string_view text);
// Compact JSON: an array of objects with "key", "at", "title", "sound", "mode" and, when
// present, "baseKey", in that order. Empty (not JSON at all) when some "at" is not a finite
// number, which JSON cannot hold.
std::string encodeAlarmsJson(std::vector<Alarm> const& alarms);

} // namespace brindle
