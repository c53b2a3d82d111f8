#include "platform/linux/displays.h"

#include <cstring>
#include <gdk/gdkx.h>
#include <gtk-layer-shell.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wayland-client.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace brindle::native {

namespace {

bool onWayland()
{
#ifdef GDK_WINDOWING_WAYLAND
    GdkDisplay* display = gdk_display_get_default();
    return display && GDK_IS_WAYLAND_DISPLAY(display);
#else
    return false;
#endif
}

// Asks the Wayland compositor, on a short connection of its own, whether it offers the layer
// protocol of wlroots compositors and KDE; gtk-layer-shell would warn on the log where not.
bool compositorOffersLayerShell()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool offered = false;
    static wl_registry_listener const listener {
        [](void* data, wl_registry*, uint32_t, char const* interface, uint32_t) {
            if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0)
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return offered;
}

// Settings are per screen, and Xwayland's come from elsewhere (XSETTINGS, or GTK's defaults
// where nobody serves them): the panel takes the main window's theme and font. Brindle adds no
// style provider of its own that would need the same.
void copyLook(GdkScreen* from, GdkScreen* to)
{
    GtkSettings* source = gtk_settings_get_for_screen(from);
    GtkSettings* target = gtk_settings_get_for_screen(to);
    for (char const* name : { "gtk-theme-name", "gtk-icon-theme-name", "gtk-font-name" }) {
        g_autofree gchar* value = nullptr;
        g_object_get(source, name, &value, nullptr);
        if (value)
            g_object_set(target, name, value, nullptr);
    }
    gboolean dark = FALSE;
    g_object_get(source, "gtk-application-prefer-dark-theme", &dark, nullptr);
    g_object_set(target, "gtk-application-prefer-dark-theme", dark, nullptr);
}

} // namespace

// Platform-specific: GTK 3's keep-above does nothing on Wayland. A compositor with the layer
// protocol (sway and other wlroots compositors, KWin) takes the panel on its overlay layer.
// One without it but with Xwayland (Mutter: GNOME on Wayland) honours keep-above for X11
// windows, so the panel alone goes through Xwayland there while the main window stays a
// Wayland client, sharp at any scale. On X11 keep-above works as it is. Whoever set
// GDK_BACKEND chose for Brindle.
void chooseWindowingSystem()
{
    if (!g_getenv("GDK_BACKEND"))
        gdk_set_allowed_backends("wayland,x11");
}

bool panelOnOverlayLayer()
{
    static bool const offered = onWayland() && compositorOffersLayerShell();
    return offered && gtk_layer_is_supported();
}

GdkDisplay* xwaylandDisplay()
{
    // Closing a second display leaves GTK 3 broken, so it stays open for good once opened.
    static GdkDisplay* opened = nullptr;
    if (opened || !onWayland())
        return opened;
    char const* name = g_getenv("DISPLAY");
    if (!name || !*name)
        return nullptr;
    // GTK 3's XInput 2 code looks some atoms up on the default display, the Wayland one: an
    // input device property changing on Xwayland (a keyboard or mouse plugged in) would crash
    // Brindle. The panel needs clicks and keys only, which core X11 events carry. This affects
    // only X11 displays opened from now on.
    gdk_disable_multidevice();
    opened = gdk_display_manager_open_display(gdk_display_manager_get(), name);
    if (opened)
        copyLook(gdk_screen_get_default(), gdk_display_get_default_screen(opened));
    return opened;
}

GdkScreen* panelScreen()
{
    if (!onWayland() || panelOnOverlayLayer())
        return nullptr;
    GdkDisplay* x11 = xwaylandDisplay();
    return x11 ? gdk_display_get_default_screen(x11) : nullptr;
}

std::string xwaylandStartupId()
{
    // Compositors with the layer protocol have no use for X11 startup sequences and may start
    // Xwayland only on demand: it is not woken for nothing.
    GdkDisplay* display = panelOnOverlayLayer() ? nullptr : xwaylandDisplay();
    if (!display)
        return {};
    // The server answers the time of a property change on a window that listens for them.
    static GdkWindow* clock = nullptr;
    if (!clock) {
        GdkWindowAttr attributes {};
        attributes.wclass = GDK_INPUT_ONLY;
        attributes.window_type = GDK_WINDOW_TOPLEVEL;
        attributes.width = 1;
        attributes.height = 1;
        attributes.event_mask = GDK_PROPERTY_CHANGE_MASK;
        clock = gdk_window_new(
            gdk_screen_get_root_window(gdk_display_get_default_screen(display)), &attributes, 0);
    }
    static unsigned serial = 0;
    std::string id = "brindle-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + "_TIME"
        + std::to_string(gdk_x11_get_server_time(clock));
    gdk_x11_display_broadcast_startup_message(
        display, "new", "ID", id.c_str(), "NAME", "Brindle", "SCREEN", "0", nullptr);
    return id;
}

} // namespace brindle::native
