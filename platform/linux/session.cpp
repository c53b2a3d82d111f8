#include "platform/linux/session.h"

#include <cstring>
#include <gdk/gdk.h>
#include <gtk-layer-shell.h>
#include <wayland-client.h>
#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace brindle::native {

namespace {

// Asks the Wayland compositor, on a short connection of its own, whether it offers the layer
// protocol of wlroots compositors and KDE.
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

} // namespace

// Platform-specific: GTK 3's keep-above does nothing on Wayland. A compositor with the layer
// protocol (sway and other wlroots compositors, KWin) takes the panel on its overlay layer.
// One without it but with Xwayland (Mutter: GNOME on Wayland) honours keep-above for X11
// windows, so Brindle's windows go through Xwayland there (and stay on Wayland if Xwayland
// cannot start). On X11 keep-above works as it is.
void chooseWindowingSystem()
{
    // Whoever set GDK_BACKEND chose for Brindle.
    if (g_getenv("GDK_BACKEND"))
        return;
    char const* wayland = g_getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland || compositorOffersLayerShell())
        return;
    char const* x11 = g_getenv("DISPLAY");
    if (x11 && *x11)
        gdk_set_allowed_backends("x11,wayland");
}

bool panelOnOverlayLayer()
{
#ifdef GDK_WINDOWING_WAYLAND
    GdkDisplay* display = gdk_display_get_default();
    return display && GDK_IS_WAYLAND_DISPLAY(display) && gtk_layer_is_supported();
#else
    return false;
#endif
}

} // namespace brindle::native
