#pragma once

#include <functional>
#include <memory>
#include <string>

namespace brindle {

struct Notification {
    std::string identifier;
    std::string title;
    std::string body;
};

// The notification that stands for a ringing alarm, for whoever cannot see the panel (a locked
// screen, a full-screen window, another workspace): it stays on screen until answered, and its
// two actions do what the panel's buttons do. Clicking the notification itself brings the main
// window back, as a reminder does.
struct AlarmNotification {
    std::string title;
    std::string body;
    std::string stopTitle;
    std::string snoozeTitle;
    std::function<void()> onStop;
    std::function<void()> onSnooze;
};

// A notification on screen; destroying the handle takes it away.
class PostedNotification {
public:
    virtual ~PostedNotification() = default;
};

// The desktop's notification server.
class Notifications {
public:
    virtual ~Notifications() = default;
    // A notification with the identifier of one still shown replaces it.
    virtual void post(Notification const& notification) = 0;
    virtual std::unique_ptr<PostedNotification> postAlarm(AlarmNotification const& notification) = 0;
    // Whether notifications are shown at all, without asking the user. The answer comes later, on
    // the main loop.
    virtual void checkAllowed(std::function<void(bool allowed)> completion) = 0;
};

} // namespace brindle
