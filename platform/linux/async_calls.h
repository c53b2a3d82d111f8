#pragma once

#include "platform/linux/gobject_ptr.h"

#include <functional>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>

namespace brindle::native {

// A D-Bus object's method table: who answers, where, and how long a call may wait for it.
struct DBusObject {
    char const* name;
    char const* path;
    char const* interface;
    GDBusCallFlags flags = G_DBUS_CALL_FLAGS_NONE;
    int timeoutMs = -1;
};

// The asynchronous GIO calls one object has in flight. They share one GCancellable, cancelled
// when this is destroyed, and an answer that comes after that is dropped unread: a callback may
// therefore capture its owner's `this`. Answers come on the main loop, and a failure reaches the
// callback as an empty result (a null reply or connection), never as a GError.
class AsyncCalls {
public:
    AsyncCalls();
    ~AsyncCalls();
    AsyncCalls(AsyncCalls const&) = delete;
    AsyncCalls& operator=(AsyncCalls const&) = delete;

    using Start = std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>;
    using Finish = std::function<void(GObject* source, GAsyncResult* result)>;
    // Any GIO call: `start` passes the three on to the call's _async function, and `finish`
    // reads the answer with its _finish function.
    void start(Start const& start, Finish finish);

    // Runs the action from the main loop, never from inside the caller.
    void later(std::function<void()> action);

    void getBus(GBusType type, std::function<void(GObjectPtr<GDBusConnection>)> done);
    // `parameters` may be a floating reference, which the call consumes.
    void call(GDBusConnection* connection, DBusObject const& object, char const* method, GVariant* parameters,
        GVariantType const* replyType, std::function<void(GVariant* reply)> done);
    // The same, for a caller that tells one failure from another: `error` is null on success.
    void callForError(GDBusConnection* connection, DBusObject const& object, char const* method,
        GVariant* parameters, GVariantType const* replyType,
        std::function<void(GVariant* reply, GError* error)> done);
    // The same, for a reply that passes file descriptors along.
    void callWithFds(GDBusConnection* connection, DBusObject const& object, char const* method,
        GVariant* parameters, GVariantType const* replyType,
        std::function<void(GVariant* reply, GUnixFDList* fds)> done);

private:
    GObjectPtr<GCancellable> cancellable_;
};

// A call nobody waits for the answer of. It carries no cancellable, so it goes out even when its
// sender is on its way out.
void callAndForget(
    GDBusConnection* connection, DBusObject const& object, char const* method, GVariant* parameters);

} // namespace brindle::native
