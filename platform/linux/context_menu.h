#pragma once

#include <webkit2/webkit2.h>

namespace brindle::native {

// Keeps the view's context menus to what Brindle's one view can honour. WebKit offers to open a
// link, image, frame or media in a new window and to save it to disk; Brindle has no second
// view, and a download would fetch from any host past the navigation policy, so those items
// are taken out. "Open Link" stays: it is an ordinary navigation and is decided like one.
void limitContextMenus(WebKitWebView* view);

// The pruning itself, for one menu and its submenus.
void pruneContextMenu(WebKitContextMenu* menu);

} // namespace brindle::native
