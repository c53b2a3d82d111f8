#pragma once

#include "platform/linux/notification_client.h"
#include "platform/notifications.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace brindle::native {

// Brindle's reminders and the ringing alarm's notification, on the desktop's notification server.
class LinuxNotifications final : public Notifications {
public:
    // Called when the user clicks one of Brindle's notifications, with the activation token the
    // server handed over for it (empty when it sent none).
    explicit LinuxNotifications(std::function<void(std::string const& activationToken)> onActivated);

    void post(Notification const& notification) override;
    std::unique_ptr<PostedNotification> postAlarm(AlarmNotification const& notification) override;
    // Linux asks no permission for notifications: they are allowed while a notification server
    // is there to show them.
    void checkAllowed(std::function<void(bool allowed)> completion) override;

    void withdrawAlarm(std::uint64_t alarm);

private:
    struct Reminder {
        std::uint32_t serverId = 0;
        bool inFlight = false;
        // The newest notification posted while an earlier one was on its way, sent once the
        // server has told the earlier one's id, so that it replaces instead of doubling.
        std::optional<Notification> queued;
    };
    struct Alarm {
        AlarmNotification content;
        std::uint32_t serverId = 0;
        bool withdrawn = false;
    };

    void sent(std::string const& identifier, std::optional<std::uint32_t> serverId);
    void onActionInvoked(std::uint32_t id, char const* actionKey, std::string const& activationToken);
    void onNotificationClosed(std::uint32_t id);

    std::function<void(std::string const&)> onActivated_;
    std::map<std::string, Reminder> reminders_;
    // The reminder's identifier for each server id.
    std::map<std::uint32_t, std::string> identifiers_;
    std::map<std::uint64_t, Alarm> alarms_;
    std::uint64_t nextAlarm_ = 1;
    // Last, so that no answer reaches the maps above once they are gone.
    NotificationClient client_;
};

} // namespace brindle::native
