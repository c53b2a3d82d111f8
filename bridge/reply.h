#pragma once

#include "bridge/intake.h"

#include <cstdint>
#include <optional>
#include <string>

namespace brindle {

// The script that hands one reply to the page's reply hook; none when a text in it is not valid
// UTF-8, which no page request can make.
std::optional<std::string> replyScript(
    std::int64_t id, ReplyValue const& value, std::optional<std::string> const& error);

} // namespace brindle
