#include "platform/linux/context_menu.h"

#include <gtest/gtest.h>
#include <vector>

namespace brindle::native {
namespace {

// Menus are written as lists of stock actions, with this for a separator, which has none.
constexpr int separator = -1;

WebKitContextMenu* menuOf(std::vector<int> const& actions)
{
    WebKitContextMenu* menu = webkit_context_menu_new();
    for (int action : actions) {
        webkit_context_menu_append(menu,
            action == separator ? webkit_context_menu_item_new_separator()
                                : webkit_context_menu_item_new_from_stock_action(
                                    static_cast<WebKitContextMenuAction>(action)));
    }
    return menu;
}

std::vector<int> actionsOf(WebKitContextMenu* menu)
{
    std::vector<int> actions;
    for (GList* link = webkit_context_menu_get_items(menu); link; link = link->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(link->data);
        actions.push_back(webkit_context_menu_item_is_separator(item)
                ? separator
                : webkit_context_menu_item_get_stock_action(item));
    }
    return actions;
}

// What WebKit offers for a link around an image, with the items that would open a second view
// or save a file among the ones that stay.
TEST(ContextMenu, ItemsThatLeaveTheViewGoAndNoSeparatorIsLeftDangling)
{
    WebKitContextMenu* menu = menuOf({ WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD, separator,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK, separator,
        WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD, separator,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK });

    pruneContextMenu(menu);

    EXPECT_EQ(actionsOf(menu),
        (std::vector<int> { WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
            WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD, separator,
            WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD }));
    g_object_unref(menu);

    // A menu of nothing but such items ends empty.
    menu = menuOf({ WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW, separator,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK });
    pruneContextMenu(menu);
    EXPECT_EQ(webkit_context_menu_get_n_items(menu), 0u);
    g_object_unref(menu);
}

} // namespace
} // namespace brindle::native
