#pragma once

#include <string>

typedef struct _GdkDisplay GdkDisplay;
typedef struct _GdkScreen GdkScreen;

namespace brindle::native {

// Lets GTK open Wayland first and X11 beside it. Call it before the application starts.
void chooseWindowingSystem();

// Whether the alarm panel goes on the compositor's overlay layer (wlr-layer-shell), where it
// stays above every ordinary window; otherwise it asks the window manager to keep it above.
bool panelOnOverlayLayer();

// The screen the alarm panel goes on: Xwayland's, where a Wayland compositor without the layer
// protocol (Mutter) keeps it above the others; null for the display everything else is on.
GdkScreen* panelScreen();

// Xwayland beside a Wayland display, opened on first use and kept open; null when Brindle runs
// on X11, or when there is no Xwayland.
GdkDisplay* xwaylandDisplay();

// A startup id that Xwayland announces dated now, or empty where the panel does not go through
// Xwayland. It entitles a Wayland window to the focus where no activation token came: Mutter
// dates X11 startup sequences by the X server's clock, which is its own.
std::string xwaylandStartupId();

} // namespace brindle::native
