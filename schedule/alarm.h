#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// One reminder or alarm that the page scheduled. `at` is in milliseconds since 1970-01-01 UTC
// and may carry a fraction.
struct Alarm {
    std::string key;
    double at = 0;
    std::string title;
    std::string sound;
    std::string mode;
    std::optional<std::string> baseKey;

    bool operator==(Alarm const&) const = default;
};

// The mode that rings; every other mode posts a notification.
inline constexpr std::string_view ringingMode = "alarm";

} // namespace brindle
