#include "platform/linux/glib_timer.h"

#include <algorithm>
#include <cmath>
#include <glib.h>
#include <limits>
#include <utility>

namespace brindle::native {

namespace {

// The timer's source is removed with it, so the source's callback can hold the timer itself. The
// action may destroy the timer from inside its own firing: nothing of it is touched afterwards.
class GlibTimer final : public Timer {
public:
    GlibTimer(guint milliseconds, bool repeats, std::function<void()> action)
        : action_(std::move(action))
        , repeats_(repeats)
        , sourceId_(g_timeout_add(milliseconds, onTimeout, this))
    {
    }
    ~GlibTimer() override
    {
        if (sourceId_)
            g_source_remove(sourceId_);
    }

private:
    static gboolean onTimeout(gpointer data)
    {
        auto* self = static_cast<GlibTimer*>(data);
        bool const repeats = self->repeats_;
        // A one-shot is spent before it runs; its source ends when this returns.
        if (!repeats)
            self->sourceId_ = 0;
        auto action = self->action_;
        action();
        // A timer destroyed by its action has had its source removed already, and GLib ignores
        // what this answers.
        return repeats ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }

    std::function<void()> const action_;
    bool const repeats_;
    guint sourceId_;
};

} // namespace

std::unique_ptr<Timer> startGlibTimer(double seconds, bool repeats, std::function<void()> action)
{
    double milliseconds = std::isfinite(seconds) ? std::round(seconds * 1000.0) : 0.0;
    milliseconds = std::clamp(milliseconds, 0.0, static_cast<double>(std::numeric_limits<guint>::max()));
    // A repeating timer of zero interval would starve the main loop.
    if (repeats && milliseconds < 1.0)
        milliseconds = 1.0;
    return std::make_unique<GlibTimer>(static_cast<guint>(milliseconds), repeats, std::move(action));
}

} // namespace brindle::native
