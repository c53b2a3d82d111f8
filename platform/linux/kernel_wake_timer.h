#pragma once

#include <functional>
#include <glib.h>
#include <time.h>

namespace brindle::native {

// A timerfd on a wall clock, set for one moment and watched from the main loop. On
// CLOCK_REALTIME_ALARM it also wakes a sleeping machine, which takes CAP_WAKE_ALARM; on
// CLOCK_REALTIME it only tells when the moment has come.
class KernelWakeTimer {
public:
    KernelWakeTimer(clockid_t clock, std::function<void()> onExpired);
    ~KernelWakeTimer();
    KernelWakeTimer(KernelWakeTimer const&) = delete;
    KernelWakeTimer& operator=(KernelWakeTimer const&) = delete;

    // Opens the timer, unless it is open; false when the kernel refuses (EPERM without the
    // capability).
    bool open();
    // Whether the kernel can hold the moment: its timers count nanoseconds in 64 bits, which end
    // in the year 2262, and a later time would silently become that one.
    static bool canHold(double atMs);
    // Opens the timer where needed and sets it for atMs; a moment already past expires at once.
    // False, with the timer closed, when the kernel refused it.
    bool set(double atMs);
    // A disarmed alarm timer goes on reporting the time it had left (timerfd_gettime, /proc), so
    // a timer that is no longer wanted is closed, and the next one opens another.
    void close();

private:
    static gboolean onReadable(int fd, GIOCondition, gpointer self);

    clockid_t const clock_;
    std::function<void()> const onExpired_;
    int fd_ = -1;
    guint watch_ = 0;
};

} // namespace brindle::native
