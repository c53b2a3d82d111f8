#pragma once

#include "platform/web_view.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindle::native {

// The name of Brindle's own script world. The message handler lives only there, so the page's
// world (and every frame of it) has no way to post to Brindle directly.
inline constexpr char const* relayWorldName = "brindle-relay";

// The longest envelope text the relay passes on, in UTF-16 code units. Brindle holds several
// copies of a message while it reads and stores it (about ten times its size at the peak), so
// one unbounded message could exhaust the machine's memory. The bound lies far above any real
// schedule, and above 50 MB; a longer envelope is dropped, as a malformed one is.
inline constexpr std::size_t maximumEnvelopeLength = std::size_t { 64 } << 20;

// The relay added to the top frame at document start, in Brindle's world: it forwards each
// envelope event with the frame's own origin, read where the page cannot redefine it.
std::string relayScript(std::string_view handlerName);

// Reads what the relay posted; none unless it is the object the relay builds.
std::optional<ScriptMessage> readRelayMessage(std::string_view json);

} // namespace brindle::native
