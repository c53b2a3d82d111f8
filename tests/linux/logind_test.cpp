#include "platform/linux/logind.h"

#include <gtest/gtest.h>
#include <vector>

namespace brindle::native {

// A call answered by the bus: whatever the connection sent before has been routed by then.
static void roundTrip(
    GDBusConnection* connection, char const* method = "GetId", GVariant* arguments = nullptr)
{
    [[maybe_unused]] g_autoptr(GVariant) answer
        = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
}

// Brindle wakes to logind's PrepareForSleep(false) on the system bus, once for each: not to the
// signal before sleep, nor to the same signal from anyone but logind.
TEST(LogindWakeObserver, HearsLogindsWakeOnTheSystemBus)
{
    g_autoptr(GTestDBus) bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus);
    char const* address = g_test_dbus_get_bus_address(bus);
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", address, TRUE);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", TRUE); // Only the system bus has logind.
    auto system = adopt(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr));
    g_dbus_connection_set_exit_on_close(system.get(), FALSE); // It outlives the test's bus.
    auto connect = [&] {
        return adopt(g_dbus_connection_new_for_address_sync(address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr));
    };
    auto logind = connect(), impostor = connect();
    roundTrip(logind.get(), "RequestName", g_variant_new("(su)", "org.freedesktop.login1", 0u));
    int wakes = 0;
    auto observer = std::make_unique<LogindWakeObserver>([&] { ++wakes; });
    // Sends each signal, then handles every signal routed to Brindle's connection meanwhile.
    auto send = [&](std::vector<std::pair<GDBusConnection*, gboolean>> const& signals) {
        for (auto [connection, goingToSleep] : signals) {
            g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/login1",
                "org.freedesktop.login1.Manager", "PrepareForSleep", g_variant_new("(b)", goingToSleep),
                nullptr);
            roundTrip(connection);
        }
        roundTrip(system.get());
        while (g_main_context_iteration(nullptr, FALSE)) { }
    };
    // The observer subscribes once it has the bus; a wake before that goes unheard.
    for (gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC; !wakes && g_get_monotonic_time() < end;)
        send({ { logind.get(), FALSE } });
    ASSERT_GT(wakes, 0) << "no wake heard";
    wakes = 0;
    send({ { logind.get(), TRUE }, { impostor.get(), FALSE }, { logind.get(), FALSE } });
    EXPECT_EQ(wakes, 1);
    observer.reset();
    g_test_dbus_down(bus);
}

} // namespace brindle::native
