#pragma once

#include "platform/desktop.h"

#include <gtk/gtk.h>
#include <memory>
#include <string>

namespace brindle::native {

// Wakes a blanked screen for a ringing alarm and keeps idle from blanking it again: GTK's idle
// inhibitor, which each desktop's session manager or portal honours, and the screen saver's
// SimulateUserActivity, which turns a blanked screen back on where the session serves it.
std::unique_ptr<ScreenWakeLock> wakeScreen(GtkApplication* application, std::string const& reason);

} // namespace brindle::native
