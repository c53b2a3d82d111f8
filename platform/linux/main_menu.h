#pragma once

#include "platform/desktop.h"

#include <functional>
#include <gtk/gtk.h>

namespace brindle::native {

// The application's menubar. Each menu becomes a submenu of it, and separators split a menu into
// GMenu sections; each item is an application action ("app.quit"), and its key, taken with Ctrl,
// that action's accelerator, so that menu and shortcut share one path.
class LinuxMainMenu {
public:
    LinuxMainMenu(GtkApplication* application, std::function<void(MenuAction)> activate);

    void install(MainMenu const& menu);

private:
    static void onActivate(GSimpleAction* action, GVariant* parameter, gpointer self);

    GtkApplication* const application_;
    std::function<void(MenuAction)> const activate_;
};

} // namespace brindle::native
