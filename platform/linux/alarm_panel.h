#pragma once

#include "platform/desktop.h"

#include <memory>

typedef struct _GtkApplication GtkApplication;

namespace brindle::native {

// Shows the floating alarm panel in front of every other window: the title in large bold type
// and its two buttons. The panel has no close control; it goes away when the returned object is
// destroyed. `app` may be null outside an application.
std::unique_ptr<AlarmPanel> showGtkAlarmPanel(PanelContent const& content, GtkApplication* app);

} // namespace brindle::native
