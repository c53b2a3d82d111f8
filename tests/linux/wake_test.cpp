#include "main_loop.h"
#include "platform/linux/wake.h"

#include <functional>
#include <gio/gio.h>
#include <gtest/gtest.h>

namespace brindle::native {
namespace {

GDBusConnection* connect(char const* address)
{
    return g_dbus_connection_new_for_address_sync(address,
        static_cast<GDBusConnectionFlags>(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

void prepareForSleep(GDBusConnection* connection, bool sleeping)
{
    g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/login1",
        "org.freedesktop.login1.Manager", "PrepareForSleep", g_variant_new("(b)", sleeping), nullptr);
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}

// A call answered on the connection after everything sent to it before; then the main loop
// runs what arrived.
void roundTrip(GDBusConnection* connection)
{
    GVariant* id = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", "GetId", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        nullptr);
    ASSERT_TRUE(id);
    g_variant_unref(id);
    while (g_main_context_iteration(nullptr, FALSE)) { }
}

// A private bus stands in for the system bus, and a connection that owns logind's name for
// logind.
TEST(WakeObserver, ReportsOnlyLogindsWakeSignals)
{
    GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus);
    char const* address = g_test_dbus_get_bus_address(bus);
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", address, TRUE);

    GDBusConnection* logind = connect(address);
    GDBusConnection* impostor = connect(address);
    ASSERT_TRUE(logind && impostor);
    g_autoptr(GVariant) owned
        = g_dbus_connection_call_sync(logind, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", "org.freedesktop.login1", 0u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    ASSERT_TRUE(owned);

    // The observer shares GLib's system bus connection; the bus applies its subscription before
    // answering a later call on that same connection.
    GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    ASSERT_TRUE(shared);
    g_dbus_connection_set_exit_on_close(shared, FALSE);
    int wakes = 0;
    int total = 0;
    {
        WakeObserver observer([&] { ++wakes; });

        // GDBus learns who owns logind's name only after subscribing and drops the signals
        // until then, so wait for one to come through before counting.
        bool through = false;
        for (int attempt = 0; attempt < 400 && !through; ++attempt) {
            prepareForSleep(logind, false);
            roundTrip(shared);
            through = wakes > 0;
            if (!through)
                g_usleep(50'000);
        }
        ASSERT_TRUE(through);
        int const settled = wakes;

        prepareForSleep(impostor, false);
        prepareForSleep(logind, true);
        prepareForSleep(logind, false);
        prepareForSleep(logind, true);
        prepareForSleep(logind, false);
        ASSERT_TRUE(runUntil([&] { return wakes >= settled + 2; }));
        roundTrip(shared);
        EXPECT_EQ(wakes, settled + 2);
        total = wakes;
    }

    // A gone observer hears nothing.
    prepareForSleep(logind, false);
    roundTrip(shared);
    EXPECT_EQ(wakes, total);

    g_object_unref(impostor);
    g_object_unref(logind);
    g_object_unref(shared);
    g_test_dbus_down(bus);
    g_object_unref(bus);
}

} // namespace
} // namespace brindle::native
