#pragma once

#include <array>
#include <string_view>

namespace brindle {

// The sounds Brindle ships, each a WAV resource of the same name.
inline constexpr std::array<std::string_view, 3> knownSounds { "bell", "chime", "digital" };

// Played for every name Brindle does not ship, so that an alarm from a newer page still rings.
inline constexpr std::string_view defaultSound = "bell";

// The resource name to play for a requested sound name: the name itself when Brindle ships it,
// the default sound otherwise. Names match exactly and with case, so "Bell" plays the default.
std::string_view soundResourceName(std::string_view requested);

} // namespace brindle
