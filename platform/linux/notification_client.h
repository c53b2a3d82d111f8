#pragma once

#include "platform/linux/async_calls.h"
#include "platform/linux/gobject_ptr.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindle::native {

// A client of the desktop's notification server (org.freedesktop.Notifications on the session
// bus). It connects on first use, so that a Brindle that never notifies never connects to the
// session bus; every answer arrives on the main loop.
class NotificationClient {
public:
    struct Signals {
        // ActionInvoked, with the activation token the server handed over for the click (empty
        // when it sent none).
        std::function<void(std::uint32_t id, char const* actionKey, std::string const& activationToken)>
            actionInvoked;
        std::function<void(std::uint32_t id)> notificationClosed;
    };
    struct Content {
        std::string summary;
        std::string body;
        std::uint32_t replacesId = 0;
        // Each action's key and label.
        std::vector<std::pair<char const*, std::string>> actions;
        // Critical and resident: on screen until answered, and silent.
        bool critical = false;
    };

    explicit NotificationClient(Signals signals);
    ~NotificationClient();
    NotificationClient(NotificationClient const&) = delete;
    NotificationClient& operator=(NotificationClient const&) = delete;

    // Runs the work from the main loop once the client has tried to connect: with the session
    // bus, or null where there is none.
    void withConnection(std::function<void(GDBusConnection*)> work);
    // Sends Notify; the answer is the server's id, none when the call failed.
    void notify(Content const& content, std::function<void(std::optional<std::uint32_t> id)> done);
    // CloseNotification. Nothing waits for the answer, so it goes out even as the client is
    // destroyed.
    void closeNotification(std::uint32_t id);
    // Whether a notification server runs or can be started on the session bus.
    void probe(std::function<void(bool present)> completion);

private:
    static void onSignal(GDBusConnection*, char const* sender, char const* path, char const* interface,
        char const* signal, GVariant* parameters, gpointer self);
    void connected(GObjectPtr<GDBusConnection> connection);

    Signals const signals_;
    GObjectPtr<GDBusConnection> connection_;
    bool connecting_ = false;
    bool noBus_ = false;
    std::vector<std::function<void(GDBusConnection*)>> waiting_;
    std::vector<guint> subscriptions_;
    // Tokens the server sent (ActivationToken) ahead of the ActionInvoked they belong to.
    std::map<std::uint32_t, std::string> activationTokens_;
    AsyncCalls calls_;
};

} // namespace brindle::native
