#include "schedule/fired_key.h"

#include <array>
#include <charconv>
#include <string_view>

namespace brindle {

std::string firedKey(Alarm const& alarm)
{
    // The longest shortest-round-trip text in fixed notation is that of the smallest subnormal,
    // "0." followed by 323 zeros and a 5; the largest double has 309 digits.
    std::array<char, 400> digits;
    auto [end, error]
        = std::to_chars(digits.data(), digits.data() + digits.size(), alarm.at, std::chars_format::fixed);
    std::string_view time(
        digits.data(), error == std::errc {} ? static_cast<std::size_t>(end - digits.data()) : 0);

    std::string key;
    key.reserve(alarm.key.size() + time.size() + 2);
    key += alarm.key;
    key += time;
    if (time.find('.') == std::string_view::npos)
        key += ".0";
    return key;
}

} // namespace brindle
