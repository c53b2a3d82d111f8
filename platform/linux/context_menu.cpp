#include "platform/linux/context_menu.h"

namespace brindle::native {

namespace {

bool leavesTheView(WebKitContextMenuAction action)
{
    switch (action) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK:
        return true;
    default:
        return false;
    }
}

bool isSeparator(WebKitContextMenuItem* item)
{
    return webkit_context_menu_item_is_separator(item);
}

// Taking items out can leave separators at an end of the menu or next to each other.
void tidySeparators(WebKitContextMenu* menu)
{
    g_autoptr(GList) items = g_list_copy(webkit_context_menu_get_items(menu));
    WebKitContextMenuItem* lastKept = nullptr;
    for (GList* link = items; link; link = link->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(link->data);
        if (isSeparator(item) && (!lastKept || isSeparator(lastKept))) {
            webkit_context_menu_remove(menu, item);
            continue;
        }
        lastKept = item;
    }
    if (lastKept && isSeparator(lastKept))
        webkit_context_menu_remove(menu, lastKept);
}

gboolean onContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*, gpointer)
{
    pruneContextMenu(menu);
    return FALSE;
}

} // namespace

void pruneContextMenu(WebKitContextMenu* menu)
{
    // The menu's own list changes as items are removed, so a copy is walked.
    g_autoptr(GList) items = g_list_copy(webkit_context_menu_get_items(menu));
    for (GList* link = items; link; link = link->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(link->data);
        if (leavesTheView(webkit_context_menu_item_get_stock_action(item)))
            webkit_context_menu_remove(menu, item);
        else if (WebKitContextMenu* submenu = webkit_context_menu_item_get_submenu(item))
            pruneContextMenu(submenu);
    }
    tidySeparators(menu);
}

void limitContextMenus(WebKitWebView* view)
{
    g_signal_connect(view, "context-menu", G_CALLBACK(onContextMenu), nullptr);
}

} // namespace brindle::native
