#pragma once

namespace brindle::native {

// Chooses, before GTK opens its display, the windowing system on which this desktop keeps the
// alarm panel above other windows. Call it before the application starts.
void chooseWindowingSystem();

// Whether the alarm panel goes on the compositor's overlay layer (wlr-layer-shell), where it
// stays above every ordinary window; otherwise it asks the window manager to keep it above.
bool panelOnOverlayLayer();

} // namespace brindle::native
