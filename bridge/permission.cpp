#include "app/app_delegate.h"

namespace brindle {

// Both answers come from the platform later, on the main loop; the controller outlives every
// pending answer, so holding it by reference is safe.
void AppDelegate::permission(std::int64_t id)
{
    platform_.checkNotificationsAllowed(
        [this, id](bool allowed) { reply(id, std::string(allowed ? "granted" : "denied")); });
}

void AppDelegate::enable(std::int64_t id)
{
    platform_.requestNotificationAuthorization(
        [this, id](bool granted) { reply(id, std::string(granted ? "granted" : "denied")); });
}

} // namespace brindle
