#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindle {

// Held while Brindle promises to deliver alarms; destroying it ends the assertion.
class ActivityToken {
public:
    virtual ~ActivityToken() = default;
};

// Held while an alarm that woke the machine is to ring: until it is destroyed, closing the lid
// does not put the machine back to sleep.
class SleepHold {
public:
    virtual ~SleepHold() = default;
};

// Sleep and waking: the login manager, the wake timers and the keep-awake activity.
class Power {
public:
    virtual ~Power() = default;
    // The machine woke from sleep; called on the main loop.
    virtual void observeWake(std::function<void()> action) = 0;
    // The one wake-up. A sleeping machine is woken at atMs (a moment already past: at once), and
    // onWakeUp runs on the main loop at that moment, whether the machine slept or not. Each call
    // replaces the wake-up set before; none removes it. Where the machine cannot be woken, the
    // platform says so once and nothing happens.
    virtual void setWakeUp(std::optional<double> atMs, std::function<void()> onWakeUp) = 0;
    virtual std::unique_ptr<SleepHold> holdSleep(std::string const& reason) = 0;
    virtual std::unique_ptr<ActivityToken> beginActivity(std::string const& reason) = 0;
};

} // namespace brindle
