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
    // Called when the user clicks one of Brindle's notifications, with the activation token the
    // server handed over for it (empty when it sent none).
    explicit NotificationClient(std::function<void(std::string const& activationToken)> onActivated);
    ~NotificationClient();
    NotificationClient(NotificationClient const&) = delete;
    NotificationClient& operator=(NotificationClient const&) = delete;

    // A notification with the identifier of one still shown replaces it on the server.
    void post(Notification const& notification);
    // Whether a notification server runs or can be started on the session bus.
    void probe(std::function<void(bool present)> completion);

    // The ringing alarm's notification, kept on screen until answered; its actions run the
    // callbacks. Each call makes a new one; the number it answers withdraws it.
    std::uint64_t postAlarm(AlarmNotification const& notification);
    void withdrawAlarm(std::uint64_t alarm);

private:
    struct Entry {
        std::uint32_t serverId = 0;
        bool inFlight = false;
        // The newest notification posted while an earlier one was on its way, sent once the
        // server has told the earlier one's id, so that it replaces instead of doubling.
        std::optional<Notification> queued;
    };

    struct AlarmEntry {
        AlarmNotification content;
        std::uint32_t serverId = 0;
        bool withdrawn = false;
    };

    void withConnection(std::function<void(GDBusConnection*)> work);
    void send(GDBusConnection* connection, Notification const& notification);
    // Asks the server for its capabilities, then sends Notify; the answer is the server's id
    // (none when the call failed).
    void notify(std::string const& title, std::string const& body, std::uint32_t replaces,
        std::vector<std::pair<char const*, std::string>> const& actions, bool critical,
        std::function<void(std::optional<std::uint32_t>)> done);
    void closeOnServer(std::uint32_t serverId);
    std::string takeActivationToken(std::uint32_t serverId);
    void sent(std::string const& identifier, std::optional<std::uint32_t> serverId);
    void onSignal(char const* signal, GVariant* parameters);

    std::function<void(std::string const&)> onActivated_;
    std::map<std::uint64_t, AlarmEntry> alarms_;
    std::uint64_t nextAlarm_ = 1;
    // Tokens the server sent (ActivationToken) ahead of the ActionInvoked they belong to.
    std::map<std::uint32_t, std::string> activationTokens_;
    GObjectPtr<GDBusConnection> connection_;
    bool connecting_ = false;
    bool noBus_ = false;
    std::vector<std::function<void(GDBusConnection*)>> waiting_;
    std::vector<guint> subscriptions_;
    std::map<std::string, Entry> entries_;
    std::map<std::uint32_t, std::string> identifiers_;
    // Every asynchronous call the client starts carries it; the destructor cancels it, so that
    // no answer reaches a client that is gone.
    GObjectPtr<GCancellable> cancellable_;
};

} // namespace brindle::native
