#include "app/app_delegate.h"

namespace brindle {

// Both answers come from the platform later, on the main loop; the controller outlives every
// pending answer, so holding it by reference is safe.
void AppDelegate::permission(std::int64_t id)
{
    platform_.getNotificationStatus([this, id](NotificationStatus status) {
        switch (status) {
        case NotificationStatus::authorized:
            reply(id, std::string("granted"));
            return;
        case NotificationStatus::denied:
            reply(id, std::string("denied"));
            return;
        case NotificationStatus::notDetermined:
        case NotificationStatus::provisional:
            break;
        }
        // Provisional authorisation, the undetermined state and any status a newer platform
        // may add all leave the page to ask.
        reply(id, std::string("prompt"));
    });
}

void AppDelegate::enable(std::int64_t id)
{
    platform_.requestNotificationAuthorization(
        [this, id](bool granted) { reply(id, std::string(granted ? "granted" : "denied")); });
}

} // namespace brindle
