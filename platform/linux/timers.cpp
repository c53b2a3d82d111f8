#include "platform/linux/timers.h"

#include <algorithm>
#include <cmath>
#include <glib.h>
#include <limits>

namespace brindle::native {

namespace {

struct TimerState {
    std::function<void()> action;
    bool repeats = false;
    bool valid = true;
    guint sourceId = 0;
};

// Runs the action unless the timer was invalidated in the meantime. The state is held by a
// local reference because the action may destroy the Timer that owns it.
void fire(std::shared_ptr<TimerState> const& state)
{
    if (!state->valid)
        return;
    if (!state->repeats) {
        state->valid = false;
        state->sourceId = 0;
    }
    auto action = state->action;
    action();
}

class GlibTimer final : public Timer {
public:
    explicit GlibTimer(std::shared_ptr<TimerState> state)
        : state_(std::move(state))
    {
    }
    ~GlibTimer() override { invalidate(); }

    void invalidate() override
    {
        state_->valid = false;
        if (state_->sourceId) {
            g_source_remove(state_->sourceId);
            state_->sourceId = 0;
        }
    }
    bool isValid() const override { return state_->valid; }

private:
    std::shared_ptr<TimerState> state_;
};

gboolean onTimeout(gpointer data)
{
    auto state = *static_cast<std::shared_ptr<TimerState>*>(data);
    bool const repeats = state->repeats;
    fire(state);
    return repeats && state->valid ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

} // namespace

std::unique_ptr<Timer> scheduleGlibTimer(double seconds, bool repeats, std::function<void()> action)
{
    auto state = std::make_shared<TimerState>();
    state->action = std::move(action);
    state->repeats = repeats;

    double milliseconds = std::isfinite(seconds) ? std::round(seconds * 1000.0) : 0.0;
    milliseconds = std::clamp(milliseconds, 0.0, static_cast<double>(std::numeric_limits<guint>::max()));
    // A repeating timer of zero interval would starve the main loop.
    if (repeats && milliseconds < 1.0)
        milliseconds = 1.0;

    state->sourceId = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(milliseconds), onTimeout,
        new std::shared_ptr<TimerState>(state),
        [](gpointer data) { delete static_cast<std::shared_ptr<TimerState>*>(data); });
    return std::make_unique<GlibTimer>(std::move(state));
}

} // namespace brindle::native
