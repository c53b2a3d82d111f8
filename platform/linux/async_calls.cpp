#include "platform/linux/async_calls.h"

#include <memory>
#include <utility>

namespace brindle::native {

namespace {

// Travels with one call as its user data, and holds a reference to the cancellable of its own,
// since the answer may come after the owner is gone.
struct Pending {
    GObjectPtr<GCancellable> cancellable;
    AsyncCalls::Finish finish;
};

void onReady(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Pending> const pending(static_cast<Pending*>(data));
    if (!g_cancellable_is_cancelled(pending->cancellable.get()))
        pending->finish(source, result);
}

} // namespace

AsyncCalls::AsyncCalls()
    : cancellable_(adopt(g_cancellable_new()))
{
}

AsyncCalls::~AsyncCalls()
{
    g_cancellable_cancel(cancellable_.get());
}

void AsyncCalls::start(Start const& start, Finish finish)
{
    start(cancellable_.get(), onReady, new Pending { cancellable_, std::move(finish) });
}

void AsyncCalls::later(std::function<void()> action)
{
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        [](gpointer data) -> gboolean {
            onReady(nullptr, nullptr, data);
            return G_SOURCE_REMOVE;
        },
        new Pending { cancellable_, [action = std::move(action)](GObject*, GAsyncResult*) { action(); } },
        nullptr);
}

void AsyncCalls::getBus(GBusType type, std::function<void(GObjectPtr<GDBusConnection>)> done)
{
    start([type](GCancellable* cancellable, GAsyncReadyCallback ready,
              gpointer data) { g_bus_get(type, cancellable, ready, data); },
        [done = std::move(done)](
            GObject*, GAsyncResult* result) { done(adopt(g_bus_get_finish(result, nullptr))); });
}

void AsyncCalls::call(GDBusConnection* connection, DBusObject const& object, char const* method,
    GVariant* parameters, GVariantType const* replyType, std::function<void(GVariant* reply)> done)
{
    callForError(connection, object, method, parameters, replyType,
        [done = std::move(done)](GVariant* reply, GError*) { done(reply); });
}

void AsyncCalls::callForError(GDBusConnection* connection, DBusObject const& object, char const* method,
    GVariant* parameters, GVariantType const* replyType,
    std::function<void(GVariant* reply, GError* error)> done)
{
    start(
        [&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            g_dbus_connection_call(connection, object.name, object.path, object.interface, method, parameters,
                replyType, object.flags, object.timeoutMs, cancellable, ready, data);
        },
        [done = std::move(done)](GObject* source, GAsyncResult* result) {
            g_autoptr(GError) error = nullptr;
            g_autoptr(GVariant) reply
                = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            done(reply, error);
        });
}

void AsyncCalls::callWithFds(GDBusConnection* connection, DBusObject const& object, char const* method,
    GVariant* parameters, GVariantType const* replyType,
    std::function<void(GVariant* reply, GUnixFDList* fds)> done)
{
    start(
        [&](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            g_dbus_connection_call_with_unix_fd_list(connection, object.name, object.path, object.interface,
                method, parameters, replyType, object.flags, object.timeoutMs, nullptr, cancellable, ready,
                data);
        },
        [done = std::move(done)](GObject* source, GAsyncResult* result) {
            GUnixFDList* fds = nullptr;
            g_autoptr(GVariant) reply = g_dbus_connection_call_with_unix_fd_list_finish(
                G_DBUS_CONNECTION(source), &fds, result, nullptr);
            auto const ownedFds = adopt(fds);
            done(reply, ownedFds.get());
        });
}

void callAndForget(
    GDBusConnection* connection, DBusObject const& object, char const* method, GVariant* parameters)
{
    g_dbus_connection_call(connection, object.name, object.path, object.interface, method, parameters,
        nullptr, object.flags, object.timeoutMs, nullptr, nullptr, nullptr);
}

} // namespace brindle::native
