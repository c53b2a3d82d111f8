#include "platform/linux/notification_client.h"

#include "build_config.h"

#include <utility>

namespace brindle::native {

namespace {

constexpr DBusObject notificationServer {
    "org.freedesktop.Notifications",
    "/org/freedesktop/Notifications",
    "org.freedesktop.Notifications",
};
constexpr DBusObject busDaemon { "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus" };
constexpr char const* applicationId = build::applicationId;

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

GVariant* notifyParameters(NotificationClient::Content const& content, bool bodyMarkup)
{
    std::string const summary = validText(content.summary);
    std::string body = validText(content.body);
    if (bodyMarkup) {
        g_autofree gchar* escaped = g_markup_escape_text(body.c_str(), -1);
        body = escaped;
    }
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    for (auto const& [key, label] : content.actions) {
        g_variant_builder_add(&actions, "s", key);
        g_variant_builder_add(&actions, "s", label.c_str());
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(applicationId));
    if (content.critical) {
        // Critical notifications stay on screen until answered, on GNOME and elsewhere; a
        // resident one also stays when one of its actions is pressed, until Brindle withdraws
        // it. The alarm makes its own sound.
        g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(2));
        g_variant_builder_add(&hints, "{sv}", "resident", g_variant_new_boolean(TRUE));
        g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("x-brindle.alarm"));
    } else {
        g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string("message-new-instant"));
    }
    return g_variant_new("(susssasa{sv}i)", "Brindle", content.replacesId, applicationId, summary.c_str(),
        body.c_str(), &actions, &hints, content.critical ? 0 : -1);
}

} // namespace

NotificationClient::NotificationClient(Signals signals)
    : signals_(std::move(signals))
{
}

NotificationClient::~NotificationClient()
{
    for (guint subscription : subscriptions_)
        g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
}

void NotificationClient::withConnection(std::function<void(GDBusConnection*)> work)
{
    if (connection_ || noBus_) {
        calls_.later([this, work = std::move(work)] { work(connection_.get()); });
        return;
    }
    waiting_.push_back(std::move(work));
    if (connecting_)
        return;
    connecting_ = true;
    calls_.getBus(G_BUS_TYPE_SESSION,
        [this](GObjectPtr<GDBusConnection> connection) { connected(std::move(connection)); });
}

void NotificationClient::connected(GObjectPtr<GDBusConnection> connection)
{
    connecting_ = false;
    if (connection) {
        connection_ = std::move(connection);
        for (char const* signal : { "ActionInvoked", "ActivationToken", "NotificationClosed" }) {
            subscriptions_.push_back(g_dbus_connection_signal_subscribe(connection_.get(),
                notificationServer.name, notificationServer.interface, signal, notificationServer.path,
                nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal, this, nullptr));
        }
    } else {
        noBus_ = true;
    }
    for (auto& work : std::exchange(waiting_, {}))
        work(connection_.get());
}

// The server is asked for its capabilities first: a server that reads markup in the body would
// swallow a title such as "Pay A & B <today>", so for such a server the body is escaped.
void NotificationClient::notify(
    Content const& content, std::function<void(std::optional<std::uint32_t>)> done)
{
    if (!connection_) {
        done(std::nullopt);
        return;
    }
    calls_.call(connection_.get(), notificationServer, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
        [this, content, done = std::move(done)](GVariant* capabilities) {
            calls_.call(connection_.get(), notificationServer, "Notify",
                notifyParameters(content, listHolds(capabilities, "body-markup")), G_VARIANT_TYPE("(u)"),
                [done](GVariant* reply) {
                    std::optional<std::uint32_t> id;
                    if (reply) {
                        guint32 value = 0;
                        g_variant_get(reply, "(u)", &value);
                        id = value;
                    }
                    done(id);
                });
        });
}

void NotificationClient::closeNotification(std::uint32_t id)
{
    activationTokens_.erase(id);
    if (connection_)
        callAndForget(connection_.get(), notificationServer, "CloseNotification", g_variant_new("(u)", id));
}

void NotificationClient::probe(std::function<void(bool present)> completion)
{
    withConnection([this, completion = std::move(completion)](GDBusConnection* connection) {
        if (!connection) {
            completion(false);
            return;
        }
        calls_.call(connection, busDaemon, "NameHasOwner", g_variant_new("(s)", notificationServer.name),
            G_VARIANT_TYPE("(b)"), [this, completion](GVariant* owned) {
                gboolean hasOwner = FALSE;
                if (owned)
                    g_variant_get(owned, "(b)", &hasOwner);
                if (hasOwner) {
                    completion(true);
                    return;
                }
                calls_.call(connection_.get(), busDaemon, "ListActivatableNames", nullptr,
                    G_VARIANT_TYPE("(as)"),
                    [completion](GVariant* names) { completion(listHolds(names, notificationServer.name)); });
            });
    });
}

void NotificationClient::onSignal(GDBusConnection*, char const*, char const*, char const*, char const* signal,
    GVariant* parameters, gpointer data)
{
    auto& self = *static_cast<NotificationClient*>(data);
    bool const idAndText = g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"));
    if (g_strcmp0(signal, "ActivationToken") == 0 && idAndText) {
        guint32 id = 0;
        char const* token = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &token);
        self.activationTokens_[id] = token;
    } else if (g_strcmp0(signal, "ActionInvoked") == 0 && idAndText) {
        guint32 id = 0;
        char const* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        std::string token;
        if (auto found = self.activationTokens_.find(id); found != self.activationTokens_.end()) {
            token = std::move(found->second);
            self.activationTokens_.erase(found);
        }
        self.signals_.actionInvoked(id, action, token);
    } else if (g_strcmp0(signal, "NotificationClosed") == 0
        && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        guint32 id = 0;
        guint32 reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        self.activationTokens_.erase(id);
        self.signals_.notificationClosed(id);
    }
}

} // namespace brindle::native
