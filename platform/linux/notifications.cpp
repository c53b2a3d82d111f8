#include "platform/linux/notifications.h"

#include <algorithm>
#include <utility>

namespace brindle::native {

namespace {

class PostedAlarmNotification final : public PostedNotification {
public:
    PostedAlarmNotification(LinuxNotifications& notifications, std::uint64_t alarm)
        : notifications_(notifications)
        , alarm_(alarm)
    {
    }
    ~PostedAlarmNotification() override { notifications_.withdrawAlarm(alarm_); }

private:
    LinuxNotifications& notifications_;
    std::uint64_t const alarm_;
};

} // namespace

LinuxNotifications::LinuxNotifications(std::function<void(std::string const&)> onActivated)
    : onActivated_(std::move(onActivated))
    , client_({
          [this](std::uint32_t id, char const* actionKey, std::string const& token) {
              onActionInvoked(id, actionKey, token);
          },
          [this](std::uint32_t id) { onNotificationClosed(id); },
      })
{
}

void LinuxNotifications::post(Notification const& notification)
{
    auto& reminder = reminders_[notification.identifier];
    if (reminder.inFlight) {
        reminder.queued = notification;
        return;
    }
    reminder.inFlight = true;
    client_.withConnection([this, notification](GDBusConnection*) {
        client_.notify({ notification.title, notification.body, reminders_[notification.identifier].serverId,
                           { { "default", "Show Brindle" } } },
            [this, identifier = notification.identifier](
                std::optional<std::uint32_t> serverId) { sent(identifier, serverId); });
    });
}

void LinuxNotifications::sent(std::string const& identifier, std::optional<std::uint32_t> serverId)
{
    auto& reminder = reminders_[identifier];
    reminder.inFlight = false;
    if (serverId && *serverId != 0) {
        if (reminder.serverId != 0 && reminder.serverId != *serverId)
            identifiers_.erase(reminder.serverId);
        reminder.serverId = *serverId;
        identifiers_[*serverId] = identifier;
    }
    if (auto next = std::exchange(reminder.queued, std::nullopt))
        post(*next);
    else if (reminder.serverId == 0)
        reminders_.erase(identifier);
}

std::unique_ptr<PostedNotification> LinuxNotifications::postAlarm(AlarmNotification const& notification)
{
    std::uint64_t const alarm = nextAlarm_++;
    alarms_[alarm].content = notification;
    client_.withConnection([this, alarm](GDBusConnection*) {
        auto entry = alarms_.find(alarm);
        if (entry == alarms_.end())
            return;
        AlarmNotification const& content = entry->second.content;
        client_.notify({ content.title, content.body, 0,
                           { { "default", "Show Brindle" }, { "stop-alarm", content.stopTitle },
                               { "snooze-alarm", content.snoozeTitle } },
                           true },
            [this, alarm](std::optional<std::uint32_t> serverId) {
                auto entry = alarms_.find(alarm);
                if (entry == alarms_.end())
                    return;
                // Withdrawn while the server was still answering: it goes as soon as it came.
                if (entry->second.withdrawn || !serverId || *serverId == 0) {
                    if (serverId && *serverId != 0)
                        client_.closeNotification(*serverId);
                    alarms_.erase(entry);
                    return;
                }
                entry->second.serverId = *serverId;
            });
    });
    return std::make_unique<PostedAlarmNotification>(*this, alarm);
}

void LinuxNotifications::withdrawAlarm(std::uint64_t alarm)
{
    auto entry = alarms_.find(alarm);
    if (entry == alarms_.end())
        return;
    if (entry->second.serverId == 0) {
        entry->second.withdrawn = true;
        return;
    }
    client_.closeNotification(entry->second.serverId);
    alarms_.erase(entry);
}

void LinuxNotifications::checkAllowed(std::function<void(bool allowed)> completion)
{
    client_.probe([completion = std::move(completion)](bool present) {
        if (completion)
            completion(present);
    });
}

void LinuxNotifications::onActionInvoked(
    std::uint32_t id, char const* actionKey, std::string const& activationToken)
{
    auto alarm = std::find_if(
        alarms_.begin(), alarms_.end(), [id](auto const& entry) { return entry.second.serverId == id; });
    if (alarm != alarms_.end()) {
        // The action usually withdraws this very notification, so it runs from a copy.
        std::function<void()> run;
        if (g_strcmp0(actionKey, "stop-alarm") == 0)
            run = alarm->second.content.onStop;
        else if (g_strcmp0(actionKey, "snooze-alarm") == 0)
            run = alarm->second.content.onSnooze;
        if (run) {
            run();
            return;
        }
    } else if (!identifiers_.contains(id)) {
        return;
    }
    if (onActivated_)
        onActivated_(activationToken);
}

// An alarm's notification dismissed by the user leaves the alarm ringing: the panel is still
// there to answer it.
void LinuxNotifications::onNotificationClosed(std::uint32_t id)
{
    std::erase_if(alarms_, [id](auto const& entry) { return entry.second.serverId == id; });
    auto found = identifiers_.find(id);
    if (found == identifiers_.end())
        return;
    auto reminder = reminders_.find(found->second);
    if (reminder != reminders_.end() && reminder->second.serverId == id) {
        reminder->second.serverId = 0;
        if (!reminder->second.inFlight && !reminder->second.queued)
            reminders_.erase(reminder);
    }
    identifiers_.erase(found);
}

} // namespace brindle::native
