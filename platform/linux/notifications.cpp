#include "platform/linux/notifications.h"

#include "build_config.h"

#include <algorithm>
#include <utility>

namespace brindle::native {

namespace {

constexpr char const* serverName = "org.freedesktop.Notifications";
constexpr char const* serverPath = "/org/freedesktop/Notifications";
constexpr char const* serverInterface = "org.freedesktop.Notifications";
constexpr char const* applicationId = build::applicationId;

// Carries a callback through one GIO answer. The client's cancellable goes with it: an answer
// that arrives once the client has cancelled it, in its destructor, is dropped.
template <typename Callback> struct Pending {
    GObjectPtr<GCancellable> cancellable;
    Callback callback;
    bool cancelled() const { return g_cancellable_is_cancelled(cancellable.get()); }
};

template <typename Callback> gpointer pending(GObjectPtr<GCancellable> const& cancellable, Callback callback)
{
    return new Pending<Callback> { cancellable, std::move(callback) };
}

// Runs the callback with the answer of one D-Bus call (null when it failed).
template <typename Callback> void onCallDone(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Pending<Callback>> call(static_cast<Pending<Callback>*>(data));
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!call->cancelled())
        call->callback(reply);
    if (reply)
        g_variant_unref(reply);
}

template <typename Callback>
void callAsync(GDBusConnection* connection, GObjectPtr<GCancellable> const& cancellable, char const* name,
    char const* path, char const* interface, char const* method, GVariant* parameters,
    GVariantType const* replyType, Callback callback)
{
    g_dbus_connection_call(connection, name, path, interface, method, parameters, replyType,
        G_DBUS_CALL_FLAGS_NONE, -1, cancellable.get(), onCallDone<Callback>,
        pending(cancellable, std::move(callback)));
}

// Text on the bus must be UTF-8; anything else is mended rather than refused.
std::string validText(std::string const& text)
{
    g_autofree gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    return valid;
}

// Whether a reply of the form (as) lists the text.
bool listHolds(GVariant* list, char const* wanted)
{
    if (!list)
        return false;
    g_autofree gchar const** items = nullptr;
    g_variant_get(list, "(^a&s)", &items);
    for (auto** item = items; item && *item; ++item) {
        if (g_strcmp0(*item, wanted) == 0)
            return true;
    }
    return false;
}

} // namespace

NotificationClient::NotificationClient(std::function<void(std::string const&)> onActivated)
    : onActivated_(std::move(onActivated))
    , cancellable_(adopt(g_cancellable_new()))
{
}

NotificationClient::~NotificationClient()
{
    g_cancellable_cancel(cancellable_.get());
    for (guint subscription : subscriptions_)
        g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
}

void NotificationClient::withConnection(std::function<void(GDBusConnection*)> work)
{
    if (connection_ || noBus_) {
        // Answered from the main loop in every case, never from inside the caller.
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            [](gpointer data) -> gboolean {
                auto& call = *static_cast<Pending<std::function<void()>>*>(data);
                if (!call.cancelled())
                    call.callback();
                return G_SOURCE_REMOVE;
            },
            pending<std::function<void()>>(
                cancellable_, [this, work = std::move(work)] { work(connection_.get()); }),
            [](gpointer data) { delete static_cast<Pending<std::function<void()>>*>(data); });
        return;
    }
    waiting_.push_back(std::move(work));
    if (connecting_)
        return;
    connecting_ = true;
    auto connected = [this](GObjectPtr<GDBusConnection> connection) {
        connecting_ = false;
        if (connection) {
            connection_ = std::move(connection);
            auto subscribe = [this](char const* signal) {
                subscriptions_.push_back(g_dbus_connection_signal_subscribe(
                    connection_.get(), serverName, serverInterface, signal, serverPath, nullptr,
                    G_DBUS_SIGNAL_FLAGS_NONE,
                    [](GDBusConnection*, char const*, char const*, char const*, char const* name,
                        GVariant* parameters, gpointer data) {
                        static_cast<NotificationClient*>(data)->onSignal(name, parameters);
                    },
                    this, nullptr));
            };
            subscribe("ActionInvoked");
            subscribe("ActivationToken");
            subscribe("NotificationClosed");
        } else {
            noBus_ = true;
        }
        auto waiting = std::exchange(waiting_, {});
        for (auto& work : waiting)
            work(connection_.get());
    };
    using Connected = decltype(connected);
    g_bus_get(
        G_BUS_TYPE_SESSION, cancellable_.get(),
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending<Connected>> call(static_cast<Pending<Connected>*>(data));
            auto connection = adopt(g_bus_get_finish(result, nullptr));
            if (!call->cancelled())
                call->callback(std::move(connection));
        },
        pending(cancellable_, std::move(connected)));
}

void NotificationClient::post(Notification const& notification)
{
    auto& entry = entries_[notification.identifier];
    if (entry.inFlight) {
        entry.queued = notification;
        return;
    }
    entry.inFlight = true;
    withConnection([this, notification](GDBusConnection* connection) {
        if (!connection) {
            sent(notification.identifier, std::nullopt);
            return;
        }
        send(connection, notification);
    });
}

void NotificationClient::send(GDBusConnection*, Notification const& notification)
{
    std::string identifier = notification.identifier;
    notify(notification.title, notification.body, entries_[identifier].serverId,
        { { "default", "Show Brindle" } }, false,
        [this, identifier](std::optional<std::uint32_t> serverId) { sent(identifier, serverId); });
}

// The server is asked for its capabilities first: a server that reads markup in the body would
// swallow a title such as "Pay A & B <today>", so for such a server the body is escaped.
void NotificationClient::notify(std::string const& title, std::string const& body, std::uint32_t replaces,
    std::vector<std::pair<char const*, std::string>> const& actions, bool critical,
    std::function<void(std::optional<std::uint32_t>)> done)
{
    if (!connection_) {
        done(std::nullopt);
        return;
    }
    callAsync(connection_.get(), cancellable_, serverName, serverPath, serverInterface, "GetCapabilities",
        nullptr, G_VARIANT_TYPE("(as)"),
        [this, title = validText(title), body = validText(body), replaces, actions, critical,
            done = std::move(done)](GVariant* capabilities) {
            if (!connection_) {
                done(std::nullopt);
                return;
            }
            std::string shownBody = body;
            if (listHolds(capabilities, "body-markup")) {
                g_autofree gchar* escaped = g_markup_escape_text(body.c_str(), -1);
                shownBody = escaped;
            }

            GVariantBuilder actionList;
            g_variant_builder_init(&actionList, G_VARIANT_TYPE("as"));
            for (auto const& [key, label] : actions) {
                g_variant_builder_add(&actionList, "s", key);
                g_variant_builder_add(&actionList, "s", label.c_str());
            }
            GVariantBuilder hints;
            g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(applicationId));
            if (critical) {
                // Critical notifications stay on screen until answered, on GNOME and elsewhere;
                // a resident one also stays when one of its actions is pressed, until Brindle
                // withdraws it. The alarm makes its own sound.
                g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(2));
                g_variant_builder_add(&hints, "{sv}", "resident", g_variant_new_boolean(TRUE));
                g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("x-brindle.alarm"));
            } else {
                g_variant_builder_add(
                    &hints, "{sv}", "sound-name", g_variant_new_string("message-new-instant"));
            }
            GVariant* parameters = g_variant_new("(susssasa{sv}i)", "Brindle", replaces, applicationId,
                title.c_str(), shownBody.c_str(), &actionList, &hints, critical ? 0 : -1);

            callAsync(connection_.get(), cancellable_, serverName, serverPath, serverInterface, "Notify",
                parameters, G_VARIANT_TYPE("(u)"), [done](GVariant* reply) {
                    std::optional<std::uint32_t> serverId;
                    if (reply) {
                        guint32 id = 0;
                        g_variant_get(reply, "(u)", &id);
                        serverId = id;
                    }
                    done(serverId);
                });
        });
}

std::uint64_t NotificationClient::postAlarm(AlarmNotification const& notification)
{
    std::uint64_t const alarm = nextAlarm_++;
    alarms_[alarm].content = notification;
    withConnection([this, alarm](GDBusConnection*) {
        auto entry = alarms_.find(alarm);
        if (entry == alarms_.end())
            return;
        AlarmNotification const& content = entry->second.content;
        notify(content.title, content.body, 0,
            { { "default", "Show Brindle" }, { "stop-alarm", content.stopTitle },
                { "snooze-alarm", content.snoozeTitle } },
            true, [this, alarm](std::optional<std::uint32_t> serverId) {
                auto entry = alarms_.find(alarm);
                if (entry == alarms_.end())
                    return;
                // Withdrawn while the server was still answering: it goes as soon as it came.
                if (entry->second.withdrawn || !serverId || *serverId == 0) {
                    if (serverId && *serverId != 0)
                        closeOnServer(*serverId);
                    alarms_.erase(entry);
                    return;
                }
                entry->second.serverId = *serverId;
            });
    });
    return alarm;
}

void NotificationClient::withdrawAlarm(std::uint64_t alarm)
{
    auto entry = alarms_.find(alarm);
    if (entry == alarms_.end())
        return;
    if (entry->second.serverId == 0) {
        entry->second.withdrawn = true;
        return;
    }
    closeOnServer(entry->second.serverId);
    activationTokens_.erase(entry->second.serverId);
    alarms_.erase(entry);
}

void NotificationClient::closeOnServer(std::uint32_t serverId)
{
    if (!connection_)
        return;
    // Nothing waits for the answer, so the call goes out even as the client is destroyed.
    g_dbus_connection_call(connection_.get(), serverName, serverPath, serverInterface, "CloseNotification",
        g_variant_new("(u)", serverId), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

std::string NotificationClient::takeActivationToken(std::uint32_t serverId)
{
    auto found = activationTokens_.find(serverId);
    if (found == activationTokens_.end())
        return {};
    std::string token = std::move(found->second);
    activationTokens_.erase(found);
    return token;
}

void NotificationClient::sent(std::string const& identifier, std::optional<std::uint32_t> serverId)
{
    auto& entry = entries_[identifier];
    entry.inFlight = false;
    if (serverId && *serverId != 0) {
        if (entry.serverId != 0 && entry.serverId != *serverId)
            identifiers_.erase(entry.serverId);
        entry.serverId = *serverId;
        identifiers_[*serverId] = identifier;
    }
    if (auto next = std::exchange(entry.queued, std::nullopt))
        post(*next);
    else if (entry.serverId == 0)
        entries_.erase(identifier);
}

void NotificationClient::onSignal(char const* signal, GVariant* parameters)
{
    bool const idAndText = g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"));
    if (g_strcmp0(signal, "ActivationToken") == 0 && idAndText) {
        guint32 id = 0;
        char const* token = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &token);
        activationTokens_[id] = token;
        return;
    }
    if (g_strcmp0(signal, "ActionInvoked") == 0 && idAndText) {
        guint32 id = 0;
        char const* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        std::string token = takeActivationToken(id);
        auto alarm = std::find_if(
            alarms_.begin(), alarms_.end(), [id](auto const& entry) { return entry.second.serverId == id; });
        if (alarm != alarms_.end()) {
            // The action usually withdraws this very notification, so it runs from a copy.
            std::function<void()> run;
            if (g_strcmp0(action, "stop-alarm") == 0)
                run = alarm->second.content.onStop;
            else if (g_strcmp0(action, "snooze-alarm") == 0)
                run = alarm->second.content.onSnooze;
            if (run) {
                run();
                return;
            }
        } else if (!identifiers_.contains(id)) {
            return;
        }
        if (onActivated_)
            onActivated_(token);
        return;
    }
    if (g_strcmp0(signal, "NotificationClosed") == 0
        && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        guint32 id = 0;
        guint32 reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        activationTokens_.erase(id);
        // An alarm's notification dismissed by the user leaves the alarm ringing: the panel is
        // still there to answer it.
        std::erase_if(alarms_, [id](auto const& entry) { return entry.second.serverId == id; });
        auto found = identifiers_.find(id);
        if (found == identifiers_.end())
            return;
        auto entry = entries_.find(found->second);
        if (entry != entries_.end() && entry->second.serverId == id) {
            entry->second.serverId = 0;
            if (!entry->second.inFlight && !entry->second.queued)
                entries_.erase(entry);
        }
        identifiers_.erase(found);
    }
}

void NotificationClient::probe(std::function<void(bool present)> completion)
{
    withConnection([this, completion = std::move(completion)](GDBusConnection* connection) mutable {
        if (!connection) {
            completion(false);
            return;
        }
        callAsync(connection, cancellable_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", serverName), G_VARIANT_TYPE("(b)"),
            [this, completion = std::move(completion)](GVariant* owned) mutable {
                gboolean hasOwner = FALSE;
                if (owned)
                    g_variant_get(owned, "(b)", &hasOwner);
                if (hasOwner || !connection_) {
                    completion(hasOwner);
                    return;
                }
                callAsync(connection_.get(), cancellable_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                    "org.freedesktop.DBus", "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"),
                    [completion = std::move(completion)](
                        GVariant* names) { completion(listHolds(names, serverName)); });
            });
    });
}

} // namespace brindle::native
