#pragma once

#include "platform/linux/async_calls.h"
#include "platform/linux/gobject_ptr.h"
#include "platform/power.h"

#include <functional>
#include <memory>
#include <string>

namespace brindle::native {

// Reports each wake from sleep: logind's PrepareForSleep(false) on the system bus. Without a
// system bus (containers, test sessions) there are simply no wake events.
class LogindWakeObserver {
public:
    explicit LogindWakeObserver(std::function<void()> onWake);
    ~LogindWakeObserver();
    LogindWakeObserver(LogindWakeObserver const&) = delete;
    LogindWakeObserver& operator=(LogindWakeObserver const&) = delete;

private:
    static void onPrepareForSleep(GDBusConnection*, char const* sender, char const* path,
        char const* interface, char const* signal, GVariant* parameters, gpointer self);

    std::function<void()> onWake_;
    GObjectPtr<GDBusConnection> system_;
    guint subscription_ = 0;
    AsyncCalls calls_;
};

// logind's block inhibitor for the lid switch, on the system bus, held until destroyed. Without
// a system bus or logind there is nothing to hold, silently.
std::unique_ptr<SleepHold> holdSleepWithLogind(std::string const& reason);

} // namespace brindle::native
