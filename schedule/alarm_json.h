#pragma once

#include "schedule/alarm.h"

#include <optional>
#include <rapidjson/document.h>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// The JSON form of alarms, shared by the store file and the page's "schedule" request. Decoding
// a list is all or nothing: one bad element fails the whole list.
std::optional<Alarm> decodeAlarm(rapidjson::Value const& object);
std::optional<std::vector<Alarm>> decodeAlarms(rapidjson::Value const& array);
// Reads JSON text holding an array of alarm objects.
std::optional<std::vector<Alarm>> decodeAlarmsJson(std::string_view text);
// Compact JSON: an array of objects with "key", "at", "title", "sound", "mode" and, when
// present, "baseKey", in that order. Empty (not JSON at all) when some "at" is not a finite
// number, which JSON cannot hold, or some text is not valid UTF-8.
std::string encodeAlarmsJson(std::vector<Alarm> const& alarms);

// The alarm that was ringing, and since when, as {"since": ms, "alarm": {...}}: kept while it rings
// so that a Brindle that died under it rings on after its restart.
struct RingRecord {
    Alarm alarm;
    double sinceMs = 0;
    bool operator==(RingRecord const&) const = default;
};
std::string encodeRingJson(RingRecord const& ring);
// None for anything but such an object, "{}" (no ring) included.
std::optional<RingRecord> decodeRingJson(std::string_view text);

} // namespace brindle
