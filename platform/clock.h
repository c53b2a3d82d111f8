#pragma once

#include <functional>
#include <memory>

namespace brindle {

// A scheduled callback on the main loop. Destroying it cancels it, also from inside its own
// callback: that is the one way to stop a timer.
class Timer {
public:
    virtual ~Timer() = default;
};

// The wall clock and the main loop's timers.
class Clock {
public:
    virtual ~Clock() = default;
    // The wall clock in milliseconds since 1970-01-01 UTC: seconds as a double times 1000.0.
    virtual double nowMs() = 0;
    virtual std::unique_ptr<Timer> startTimer(double seconds, bool repeats, std::function<void()> action) = 0;
};

} // namespace brindle
