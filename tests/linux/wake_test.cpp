#include "platform/linux/wake.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace brindle::native {

namespace {

GObjectPtr<GDBusConnection> connect(gchar const* address)
{
    return GObjectPtr<GDBusConnection>(g_dbus_connection_new_for_address_sync(address,
        GDBusConnectionFlags(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
}

// A call to the bus answered: what the connection sent before has been routed by then.
void roundTrip(GDBusConnection* connection, char const* method = "GetId", GVariant* arguments = nullptr)
{
    if (GVariant* answer
        = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr))
        g_variant_unref(answer);
}

void prepareForSleep(GDBusConnection* connection, gboolean goingToSleep)
{
    g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/login1",
        "org.freedesktop.login1.Manager", "PrepareForSleep", g_variant_new("(b)", goingToSleep), nullptr);
    roundTrip(connection);
}

// Every signal routed to Brindle's connection before now has been handled.
void settle()
{
    GObjectPtr<GDBusConnection> system(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
    roundTrip(system.get());
    while (g_main_context_iteration(nullptr, FALSE)) { }
}

} // namespace

// Brindle wakes to logind's PrepareForSleep(false) on the system bus, once for each: not to the
// signal before sleep, nor to the same signal from anyone but logind.
TEST(Wake, HearsLogindsWakeOnTheSystemBus)
{
    GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus);
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", g_test_dbus_get_bus_address(bus), TRUE);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", TRUE); // Only the system bus has logind.
    auto logind = connect(g_test_dbus_get_bus_address(bus));
    auto impostor = connect(g_test_dbus_get_bus_address(bus));
    roundTrip(logind.get(), "RequestName", g_variant_new("(su)", "org.freedesktop.login1", 0u));
    {
        int wakes = 0;
        WakeObserver observer([&] { ++wakes; });
        // The observer subscribes once it has the bus; a wake before that goes unheard.
        gint64 const deadline = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
        while (!wakes && g_get_monotonic_time() < deadline) {
            prepareForSleep(logind.get(), FALSE);
            settle();
        }
        ASSERT_GT(wakes, 0) << "no wake heard";
        wakes = 0;
        prepareForSleep(logind.get(), TRUE);
        prepareForSleep(impostor.get(), FALSE);
        prepareForSleep(logind.get(), FALSE);
        settle();
        EXPECT_EQ(wakes, 1);
    }
    logind = {};
    impostor = {};
    g_test_dbus_down(bus);
    g_object_unref(bus);
}

} // namespace brindle::native
