#pragma once

#include "platform/clock.h"

#include <functional>
#include <memory>

namespace brindle::native {

// A main-loop timer with millisecond resolution; the second-granular GLib timeouts drift and
// coalesce, which an alarm clock cannot have. Destroying it removes its source.
std::unique_ptr<Timer> startGlibTimer(double seconds, bool repeats, std::function<void()> action);

} // namespace brindle::native
