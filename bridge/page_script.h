#pragma once

#include <string>
#include <string_view>

namespace brindle {

// The name of the script message handler; it exists only in Brindle's own script world.
inline constexpr std::string_view messageHandlerName = "brindle";

// The script added to every main-frame document at document start. On the planner's https
// pages it defines window.BrindleDesktop.request and the reply hook window.__brindleReply.
std::string pageScript(std::string_view appHost);

} // namespace brindle
