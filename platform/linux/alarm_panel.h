#pragma once

#include "platform/platform.h"

#include <memory>

typedef struct _GtkApplication GtkApplication;

namespace brindle::native {

// Shows the floating alarm panel in front of every other window: the title in large bold type
// and the two buttons of the spec. The panel has no close control; it goes away when close()
// is called or the returned object is destroyed. `app` may be null outside an application.
std::unique_ptr<AlarmPanel> showGtkAlarmPanel(PanelSpec const& spec, GtkApplication* app);

} // namespace brindle::native
