#pragma once

#include <webkit2/webkit2.h>

namespace brindle::native {

// How often the view's web process is asked for a sign of life, and how long it may go without
// giving one before it is ended.
inline constexpr guint webProcessPingIntervalMs = 5'000;
inline constexpr gint64 unresponsiveWebProcessLimitMs = 30'000;

// A web process that stops answering, such as one whose page is caught in an endless loop,
// freezes the window for good, just as a dead one leaves it blank. Every few seconds the view
// runs an empty script in Brindle's own world; when one has gone unanswered for the limit above,
// the process is ended. The view then reports it gone, as after a crash, and Brindle loads the
// page again. WebKit's own responsiveness flag is no help here: it is only raised when input or
// a load waits on the process. The watch lives as long as the view.
void endUnresponsiveWebProcesses(WebKitWebView* view);

} // namespace brindle::native
