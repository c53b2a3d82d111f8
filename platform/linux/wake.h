#pragma once

#include "platform/linux/gobject_ptr.h"

#include <functional>
#include <gio/gio.h>
#include <memory>

namespace brindle::native {

// Reports each wake from sleep: logind's PrepareForSleep(false) on the system bus. Without a
// system bus (containers, test sessions) there are simply no wake events.
class WakeObserver {
public:
    explicit WakeObserver(std::function<void()> onWake);
    ~WakeObserver();
    WakeObserver(WakeObserver const&) = delete;
    WakeObserver& operator=(WakeObserver const&) = delete;

private:
    void subscribe(GDBusConnection* connection);

    std::function<void()> onWake_;
    GObjectPtr<GDBusConnection> connection_;
    guint subscription_ = 0;
    GObjectPtr<GCancellable> cancellable_;
};

} // namespace brindle::native
