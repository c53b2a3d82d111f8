#include "platform/linux/linux_platform.h"

#include "platform/linux/alarm_panel.h"
#include "platform/linux/files.h"
#include "platform/linux/glib_timer.h"
#include "platform/linux/screen_wake.h"
#include "platform/linux/sound_player.h"

#include <utility>

namespace brindle::native {

namespace {

// Linux does not throttle a native main loop, so holding an activity changes nothing for the
// system; the token exists so that Brindle's bookkeeping of it reads the same everywhere.
class LinuxActivityToken final : public ActivityToken { };

} // namespace

LinuxPlatform::LinuxPlatform(GtkApplication* application, std::function<void(MenuAction)> activate)
    : application_(application)
    , windows_(application)
    , mainMenu_(application, activate)
    , notifications_([this, activate](std::string const& activationToken) {
        windows_.acceptActivation(activationToken);
        activate(MenuAction::showWindow);
    })
{
}

double LinuxPlatform::nowMs()
{
    return static_cast<double>(g_get_real_time()) / 1000.0;
}

std::unique_ptr<Timer> LinuxPlatform::startTimer(double seconds, bool repeats, std::function<void()> action)
{
    return startGlibTimer(seconds, repeats, std::move(action));
}

std::optional<std::string> LinuxPlatform::userDataDirectory()
{
    return userFolder(g_get_user_data_dir());
}

std::optional<std::string> LinuxPlatform::userConfigDirectory()
{
    return userFolder(g_get_user_config_dir());
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

std::optional<std::string> LinuxPlatform::resourcePath(std::string const& name, std::string const& extension)
{
    auto executable = executablePath();
    if (!executable)
        return std::nullopt;
    return findResource(*executable, name, extension);
}

std::unique_ptr<SoundPlayer> LinuxPlatform::createPlayer(
    std::string const& path, std::string const& mediaName)
{
    return createGstSoundPlayer(path, mediaName);
}

void LinuxPlatform::observeWake(std::function<void()> action)
{
    wakeObservers_.push_back(std::make_unique<LogindWakeObserver>(std::move(action)));
}

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

std::unique_ptr<ActivityToken> LinuxPlatform::beginActivity(std::string const&)
{
    return std::make_unique<LinuxActivityToken>();
}

std::unique_ptr<AlarmPanel> LinuxPlatform::showAlarmPanel(PanelContent const& content)
{
    return showGtkAlarmPanel(content, application_);
}

// The result is not waited for: the desktop starts the browser in its own time.
void LinuxPlatform::openUri(std::string const& uri)
{
    GdkDisplay* display = gdk_display_get_default();
    auto context = adopt(display ? gdk_display_get_app_launch_context(display) : nullptr);
    g_app_info_launch_default_for_uri_async(
        uri.c_str(), context ? G_APP_LAUNCH_CONTEXT(context.get()) : nullptr, nullptr,
        [](GObject*, GAsyncResult* result, gpointer) {
            g_app_info_launch_default_for_uri_finish(result, nullptr);
        },
        nullptr);
}

std::unique_ptr<ScreenWakeLock> LinuxPlatform::wakeScreen(std::string const& reason)
{
    return native::wakeScreen(application_, reason);
}

} // namespace brindle::native
