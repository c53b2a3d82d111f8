#include "platform/linux/kernel_wake_timer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <glib-unix.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>

namespace brindle::native {

namespace {

// The kernel's last representable second (KTIME_SEC_MAX: 2^63 - 1 nanoseconds), early in 2262.
constexpr double lastSecond = 9'223'372'036.0;

// An absolute wall-clock time for timerfd_settime, for a moment canHold accepts. A zero value would disarm
// the timer, so a moment at or before the epoch is the first nanosecond after it: already past, it fires at
// once.
itimerspec absoluteTime(double atMs)
{
    itimerspec when {};
    double const ms = std::max(atMs, 1e-6);
    double const seconds = std::floor(ms / 1000.0);
    when.it_value.tv_sec = static_cast<time_t>(seconds);
    when.it_value.tv_nsec = static_cast<long>((ms - seconds * 1000.0) * 1e6);
    return when;
}

} // namespace

KernelWakeTimer::KernelWakeTimer(clockid_t clock, std::function<void()> onExpired)
    : clock_(clock)
    , onExpired_(std::move(onExpired))
{
}

KernelWakeTimer::~KernelWakeTimer()
{
    close();
}

bool KernelWakeTimer::open()
{
    if (fd_ >= 0)
        return true;
    fd_ = timerfd_create(clock_, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0)
        return false;
    watch_ = g_unix_fd_add(fd_, G_IO_IN, onReadable, this);
    return true;
}

bool KernelWakeTimer::canHold(double atMs)
{
    // Also keeps NaN and infinities from the conversion to time_t, where they are undefined.
    return std::isfinite(atMs) && atMs / 1000.0 < lastSecond;
}

bool KernelWakeTimer::set(double atMs)
{
    if (!canHold(atMs) || !open())
        return false;
    itimerspec const when = absoluteTime(atMs);
    if (timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr) == 0)
        return true;
    // Whatever the timer held before is stale now.
    close();
    return false;
}

void KernelWakeTimer::close()
{
    if (watch_)
        g_source_remove(std::exchange(watch_, 0));
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

gboolean KernelWakeTimer::onReadable(int fd, GIOCondition, gpointer data)
{
    std::uint64_t expirations = 0;
    if (read(fd, &expirations, sizeof expirations) == sizeof expirations)
        static_cast<KernelWakeTimer*>(data)->onExpired_();
    return G_SOURCE_CONTINUE;
}

} // namespace brindle::native
