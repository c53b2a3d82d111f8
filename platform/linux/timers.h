#pragma once

#include "platform/platform.h"

#include <functional>
#include <memory>
#include <vector>

namespace brindle::native {

// How deep Brindle is in modal dialogs, and the default-only timer firings that fell due
// meanwhile. GTK's dialogs run a nested main loop that dispatches every source, so the timers
// themselves keep firing; a default-only timer that comes due while a dialog is up is held here
// and fired from the main loop once the last dialog has closed.
class ModalState {
public:
    bool isModal() const { return depth_ > 0; }
    void enter() { ++depth_; }
    // Leaves one level; when no dialog is left, the held firings run from an idle source, that
    // is after the dialog's caller has returned to the main loop.
    void leave();
    void defer(std::function<void()> firing) { deferred_.push_back(std::move(firing)); }

private:
    int depth_ = 0;
    std::vector<std::function<void()>> deferred_;
};

// Counts one level of modality for as long as it lives.
class ModalScope {
public:
    explicit ModalScope(ModalState& state)
        : state_(state)
    {
        state_.enter();
    }
    ~ModalScope() { state_.leave(); }
    ModalScope(ModalScope const&) = delete;
    ModalScope& operator=(ModalScope const&) = delete;

private:
    ModalState& state_;
};

// A main-loop timer with millisecond resolution; the second-granular GLib timeouts drift and
// coalesce, which an alarm clock cannot have.
std::unique_ptr<Timer> scheduleGlibTimer(std::shared_ptr<ModalState> modal, double seconds, bool repeats,
    TimerModes modes, std::function<void()> action);

} // namespace brindle::native
