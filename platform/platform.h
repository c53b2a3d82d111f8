#pragma once

// The boundary between Brindle's decisions and the desktop it runs on, as the roles Linux gives
// its services. Nothing declared here names a toolkit type: the Linux implementation lives in
// platform/linux/, and platform/fake/ records what was asked of it so that every decision can be
// tested without a display. Each room takes only the roles it uses.

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "platform/power.h"
#include "platform/sound.h"
#include "platform/web_view.h"

namespace brindle {

// Every role at once: what the application is handed, and what a backend implements.
class Platform : public Clock,
                 public Files,
                 public Notifications,
                 public Sound,
                 public Power,
                 public Desktop { };

} // namespace brindle
