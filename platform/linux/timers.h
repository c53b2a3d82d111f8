#pragma once

#include "platform/platform.h"

#include <functional>
#include <memory>

namespace brindle::native {

// A main-loop timer with millisecond resolution; the second-granular GLib timeouts drift and
// coalesce, which an alarm clock cannot have.
std::unique_ptr<Timer> scheduleGlibTimer(double seconds, bool repeats, std::function<void()> action);

} // namespace brindle::native
