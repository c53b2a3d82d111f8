#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <string_view>

namespace brindle::native {

// The name of Brindle's own script world. The message handler lives only there, so the page's
// world (and every frame of it) has no way to post to Brindle directly.
inline constexpr char const* relayWorldName = "brindle-relay";

// The relay added to the top frame at document start, in Brindle's world: it forwards each
// envelope event with the frame's own origin, read where the page cannot redefine it.
std::string relayScript(std::string_view handlerName);

// Reads what the relay posted; none unless it is the object the relay builds.
std::optional<ScriptMessage> readRelayMessage(std::string_view json);

} // namespace brindle::native
