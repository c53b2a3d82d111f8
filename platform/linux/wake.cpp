#include "platform/linux/wake.h"

namespace brindle::native {

WakeObserver::WakeObserver(std::function<void()> onWake)
    : onWake_(std::move(onWake))
    , cancellable_(adopt(g_cancellable_new()))
{
    g_bus_get(
        G_BUS_TYPE_SYSTEM, cancellable_.get(),
        [](GObject*, GAsyncResult* result, gpointer data) {
            GDBusConnection* connection = g_bus_get_finish(result, nullptr);
            // A cancelled call means the observer is gone; data is not touched then.
            if (!connection)
                return;
            static_cast<WakeObserver*>(data)->subscribe(connection);
        },
        this);
}

WakeObserver::~WakeObserver()
{
    g_cancellable_cancel(cancellable_.get());
    if (subscription_)
        g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_);
}

void WakeObserver::subscribe(GDBusConnection* connection)
{
    connection_ = adopt(connection);
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_.get(), "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
        "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, char const*, char const*, char const*, char const*, GVariant* parameters,
            gpointer data) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
                return;
            gboolean goingToSleep = TRUE;
            g_variant_get(parameters, "(b)", &goingToSleep);
            auto* self = static_cast<WakeObserver*>(data);
            if (!goingToSleep && self->onWake_)
                self->onWake_();
        },
        this, nullptr);
}

} // namespace brindle::native
