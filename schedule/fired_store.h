#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Brindle's user defaults are one JSON object in the config folder; the fired list is its
// member "fired", an array of texts.
inline constexpr std::string_view firedDefaultsKey = "fired";
// The stored fired list keeps this many of the most recent deliveries; the set in memory
// keeps them all.
inline constexpr std::size_t storedFiredLimit = 1024;

// The texts under "fired", oldest delivery first; none when the text is not a JSON object or
// "fired" is missing or not an array of texts only.
std::optional<std::vector<std::string>> readFiredDefaults(std::string_view defaultsJson);

// The defaults object with "fired" replaced by `keys` and every other member kept as it was.
// Text that is not a JSON object is replaced by an object holding "fired" alone. Empty when a
// key is not valid UTF-8.
std::string writeFiredDefaults(
    std::optional<std::string_view> defaultsJson, std::vector<std::string> const& keys);

} // namespace brindle
