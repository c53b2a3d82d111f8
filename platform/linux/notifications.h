#pragma once

#include "platform/linux/gobject_ptr.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <gio/gio.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle::native {

// Talks to the desktop's notification server (org.freedesktop.Notifications on the session
// bus). Every call is asynchronous; answers arrive on the main loop.
class NotificationClient {
public:
    // Called when the user clicks one of Brindle's notifications.
    explicit NotificationClient(std::function<void()> onActivated);
    ~NotificationClient();
    NotificationClient(NotificationClient const&) = delete;
    NotificationClient& operator=(NotificationClient const&) = delete;

    // A notification with the identifier of one still shown replaces it on the server.
    void post(Notification const& notification);
    // Whether a notification server runs or can be started on the session bus.
    void probe(std::function<void(bool present)> completion);

private:
    struct Entry {
        std::uint32_t serverId = 0;
        bool inFlight = false;
        // The newest notification posted while an earlier one was on its way, sent once the
        // server has told the earlier one's id, so that it replaces instead of doubling.
        std::optional<Notification> queued;
    };

    void withConnection(std::function<void(GDBusConnection*)> work);
    void send(GDBusConnection* connection, Notification const& notification);
    void sent(std::string const& identifier, std::optional<std::uint32_t> serverId);
    void onSignal(char const* signal, GVariant* parameters);

    std::function<void()> onActivated_;
    GObjectPtr<GDBusConnection> connection_;
    bool connecting_ = false;
    bool noBus_ = false;
    std::vector<std::function<void(GDBusConnection*)>> waiting_;
    std::vector<guint> subscriptions_;
    std::map<std::string, Entry> entries_;
    std::map<std::uint32_t, std::string> identifiers_;
    // Answers that arrive after the client is gone find this flag cleared.
    std::shared_ptr<bool> alive_;
};

} // namespace brindle::native
