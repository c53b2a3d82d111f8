#pragma once

#include <functional>
#include <glib.h>

namespace brindle::native {

// Runs the default main context until the condition holds or a generous deadline passes; the
// deadline only keeps a broken source from hanging the test, it measures nothing.
inline bool runUntil(std::function<bool()> const& condition)
{
    bool expired = false;
    guint deadline = g_timeout_add_seconds(
        20,
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &expired);
    while (!condition() && !expired)
        g_main_context_iteration(nullptr, TRUE);
    if (!expired)
        g_source_remove(deadline);
    return condition();
}

} // namespace brindle::native
