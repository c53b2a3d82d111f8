#pragma once

#include <chrono>
#include <functional>
#include <glib.h>
#include <thread>

namespace brindle::testing {

// The deadline is a generous bound on a loaded machine, not a measurement.
inline bool runUntil(std::function<bool()> const& condition,
    std::chrono::steady_clock::duration deadline = std::chrono::seconds(30))
{
    auto const giveUp = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace brindle::testing
