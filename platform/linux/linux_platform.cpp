#include "platform/linux/linux_platform.h"

#include "platform/linux/files.h"
#include "platform/linux/notifications.h"
#include "platform/linux/sound_player.h"
#include "platform/linux/wake.h"
#include "platform/linux/wake_up.h"

#include <glib.h>

namespace brindle::native {

namespace {

// Linux does not throttle a native main loop, so holding an activity changes nothing for the
// system; the token exists so that Brindle's bookkeeping of it reads the same everywhere.
class LinuxActivityToken final : public ActivityToken { };

class PostedAlarmNotification final : public PostedNotification {
public:
    PostedAlarmNotification(NotificationClient& client, std::uint64_t alarm)
        : client_(client)
        , alarm_(alarm)
    {
    }
    ~PostedAlarmNotification() override { withdraw(); }
    void withdraw() override { client_.withdrawAlarm(alarm_); }

private:
    NotificationClient& client_;
    std::uint64_t const alarm_;
};

} // namespace

LinuxPlatform::LinuxPlatform(GtkApplication* application)
    : application_(application)
{
}

LinuxPlatform::~LinuxPlatform()
{
    if (mainWebView_)
        g_object_remove_weak_pointer(G_OBJECT(mainWebView_), reinterpret_cast<gpointer*>(&mainWebView_));
    if (mainWindow_)
        g_object_remove_weak_pointer(G_OBJECT(mainWindow_), reinterpret_cast<gpointer*>(&mainWindow_));
    if (aboutDialog_)
        gtk_widget_destroy(aboutDialog_);
}

void LinuxPlatform::watch(GtkWidget* widget, GtkWidget** slot)
{
    if (*slot)
        g_object_remove_weak_pointer(G_OBJECT(*slot), reinterpret_cast<gpointer*>(slot));
    *slot = widget;
    if (widget)
        g_object_add_weak_pointer(G_OBJECT(widget), reinterpret_cast<gpointer*>(slot));
}

void LinuxPlatform::watch(GtkWindow* window, GtkWindow** slot)
{
    if (*slot)
        g_object_remove_weak_pointer(G_OBJECT(*slot), reinterpret_cast<gpointer*>(slot));
    *slot = window;
    if (window)
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(slot));
}

double LinuxPlatform::nowMs()
{
    return static_cast<double>(g_get_real_time()) / 1000.0;
}

std::optional<std::string> LinuxPlatform::userDataDirectory()
{
    char const* folder = g_get_user_data_dir();
    if (!folder || !*folder)
        return std::nullopt;
    return std::string(folder);
}

std::optional<std::string> LinuxPlatform::userConfigDirectory()
{
    char const* folder = g_get_user_config_dir();
    if (!folder || !*folder)
        return std::nullopt;
    return std::string(folder);
}

bool LinuxPlatform::createDirectories(std::string const& path)
{
    return native::createDirectories(path);
}

std::optional<std::string> LinuxPlatform::readFile(std::string const& path)
{
    return native::readFile(path);
}

bool LinuxPlatform::writeFileAtomically(std::string const& path, std::string_view bytes)
{
    return native::writeFileAtomically(path, bytes);
}

std::unique_ptr<Timer> LinuxPlatform::scheduleTimer(
    double seconds, bool repeats, TimerModes modes, std::function<void()> action)
{
    return scheduleGlibTimer(modal_, seconds, repeats, modes, std::move(action));
}

void LinuxPlatform::observeWake(std::function<void()> action)
{
    wakeObservers_.push_back(std::make_unique<WakeObserver>(std::move(action)));
}

// Made on first use, so that a Brindle that never notifies never connects to the session bus.
NotificationClient& LinuxPlatform::notifications()
{
    if (!notifications_) {
        notifications_ = std::make_unique<NotificationClient>([this](std::string const& activationToken) {
            acceptActivation(activationToken);
            if (delegate_)
                delegate_->showWindow();
        });
    }
    return *notifications_;
}

void LinuxPlatform::postNotification(Notification const& notification)
{
    notifications().post(notification);
}

// Linux asks no permission for notifications: they are allowed while a notification server is
// there to show them, and a request cannot prompt, so it answers from the same probe.
void LinuxPlatform::requestNotificationAuthorization(std::function<void(bool granted)> completion)
{
    getNotificationStatus([completion = std::move(completion)](NotificationStatus status) {
        if (completion)
            completion(status == NotificationStatus::authorized);
    });
}

void LinuxPlatform::getNotificationStatus(std::function<void(NotificationStatus)> completion)
{
    notifications().probe([completion = std::move(completion)](bool present) {
        if (completion)
            completion(present ? NotificationStatus::authorized : NotificationStatus::denied);
    });
}

std::unique_ptr<PostedNotification> LinuxPlatform::postAlarmNotification(
    AlarmNotification const& notification)
{
    return std::make_unique<PostedAlarmNotification>(
        notifications(), notifications().postAlarm(notification));
}

std::unique_ptr<ActivityToken> LinuxPlatform::beginActivity(std::uint64_t, std::string const&)
{
    return std::make_unique<LinuxActivityToken>();
}

// Made at the first call, at launch, so that a machine that cannot be woken is reported at start.
void LinuxPlatform::setWakeUp(std::optional<double> atMs, std::function<void()> onWakeUp)
{
    if (!wakeUp_)
        wakeUp_ = std::make_unique<WakeUp>();
    wakeUp_->set(atMs, std::move(onWakeUp));
}

std::unique_ptr<SleepHold> LinuxPlatform::holdSleep(std::string const& reason)
{
    return holdSleepWithLogind(reason);
}

std::optional<std::string> LinuxPlatform::resourcePath(std::string const& name, std::string const& extension)
{
    auto executable = executablePath();
    if (!executable)
        return std::nullopt;
    return findResource(*executable, name, extension);
}

std::unique_ptr<SoundPlayer> LinuxPlatform::createSoundPlayer(std::string const& path)
{
    return createGstSoundPlayer(path);
}

// The result is not waited for: the desktop starts the browser in its own time.
void LinuxPlatform::openURL(std::string const& url)
{
    GdkDisplay* display = gdk_display_get_default();
    GObjectPtr<GdkAppLaunchContext> context(display ? gdk_display_get_app_launch_context(display) : nullptr);
    g_app_info_launch_default_for_uri_async(
        url.c_str(), context ? G_APP_LAUNCH_CONTEXT(context.get()) : nullptr, nullptr,
        [](GObject*, GAsyncResult* result, gpointer) {
            g_app_info_launch_default_for_uri_finish(result, nullptr);
        },
        nullptr);
}

} // namespace brindle::native
