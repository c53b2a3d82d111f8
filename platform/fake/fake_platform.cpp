#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <utility>

namespace brindle::fake {

namespace {

class FakeTimer final : public Timer {
public:
    explicit FakeTimer(std::shared_ptr<FakeTimerState> state)
        : state_(std::move(state))
    {
    }
    ~FakeTimer() override { state_->valid = false; }

private:
    std::shared_ptr<FakeTimerState> state_;
};

class FakeSoundPlayer final : public SoundPlayer {
public:
    FakeSoundPlayer(std::shared_ptr<FakeSound> sound, bool const& audioOutput)
        : sound_(std::move(sound))
        , audioOutput_(audioOutput)
    {
    }
    ~FakeSoundPlayer() override
    {
        sound_->playing = false;
        sound_->onOutputFailure = nullptr;
    }
    void play(bool looping) override
    {
        sound_->looping = looping;
        sound_->playing = true;
        if (!audioOutput_)
            sound_->loseOutput();
    }
    void onOutputFailure(std::function<void()> handler) override
    {
        sound_->onOutputFailure = std::move(handler);
    }
    void stop() override
    {
        sound_->playing = false;
        sound_->stopped = true;
    }

private:
    std::shared_ptr<FakeSound> sound_;
    bool const& audioOutput_;
};

class FakePostedNotification final : public PostedNotification {
public:
    explicit FakePostedNotification(std::shared_ptr<FakeAlarmNotification> notification)
        : notification_(std::move(notification))
    {
    }
    ~FakePostedNotification() override { notification_->shown = false; }

private:
    std::shared_ptr<FakeAlarmNotification> notification_;
};

class FakeToken final : public ActivityToken {
public:
    explicit FakeToken(int& ended)
        : ended_(ended)
    {
    }
    ~FakeToken() override { ++ended_; }

private:
    int& ended_;
};

class FakeWebViewHandle final : public WebView {
public:
    explicit FakeWebViewHandle(std::shared_ptr<FakeWebView> view)
        : view_(std::move(view))
    {
    }
    void load(std::string const& url, int) override { view_->loads.push_back(url); }
    void reload() override { ++view_->reloads; }
    void evaluateJavaScript(std::string const& script) override { view_->evaluatedScripts.push_back(script); }

private:
    std::shared_ptr<FakeWebView> view_;
};

class FakeWindowHandle final : public Window {
public:
    explicit FakeWindowHandle(std::shared_ptr<FakeWindow> window)
        : window_(std::move(window))
    {
    }
    void present() override { ++window_->shows; }

private:
    std::shared_ptr<FakeWindow> window_;
};

class FakePanelHandle final : public AlarmPanel {
public:
    explicit FakePanelHandle(std::shared_ptr<FakePanel> panel)
        : panel_(std::move(panel))
    {
    }
    ~FakePanelHandle() override { panel_->open = false; }
    void present() override { ++panel_->presents; }

private:
    std::shared_ptr<FakePanel> panel_;
};

std::string parentOf(std::string const& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

FakePlatform::FakePlatform() = default;

bool FakePlatform::fireNextDueTimer(double limitMs)
{
    std::shared_ptr<FakeTimerState> next;
    for (auto const& timer : timers_) {
        if (!timer->valid || timer->dueMs > limitMs)
            continue;
        if (!next || timer->dueMs < next->dueMs || (timer->dueMs == next->dueMs && timer->id < next->id))
            next = timer;
    }
    if (!next)
        return false;
    nowMs_ = std::max(nowMs_, next->dueMs);
    if (next->repeats)
        next->dueMs = nowMs_ + next->intervalMs;
    else
        next->valid = false;
    auto action = next->action; // the action may drop the last handle to its own timer
    action();
    return true;
}

void FakePlatform::advance(double ms)
{
    double target = nowMs_ + ms;
    while (fireNextDueTimer(target)) { }
    nowMs_ = std::max(nowMs_, target);
    std::erase_if(timers_, [](auto const& timer) { return !timer->valid; });
}

void FakePlatform::runDueTimers()
{
    while (fireNextDueTimer(nowMs_)) { }
}

std::size_t FakePlatform::liveTimerCount() const
{
    return std::count_if(timers_.begin(), timers_.end(), [](auto const& timer) { return timer->valid; });
}

void FakePlatform::deliverCompletions()
{
    auto completions = std::move(pendingCompletions);
    pendingCompletions.clear();
    for (auto& completion : completions)
        completion();
}

std::shared_ptr<FakeSound> FakePlatform::playingSound() const
{
    for (auto it = sounds.rbegin(); it != sounds.rend(); ++it) {
        if ((*it)->playing)
            return *it;
    }
    return nullptr;
}

std::vector<std::shared_ptr<FakeAlarmNotification>> FakePlatform::shownAlarmNotifications() const
{
    std::vector<std::shared_ptr<FakeAlarmNotification>> shown;
    std::copy_if(alarmNotifications.begin(), alarmNotifications.end(), std::back_inserter(shown),
        [](auto const& n) { return n->shown; });
    return shown;
}

std::unique_ptr<PostedNotification> FakePlatform::postAlarm(AlarmNotification const& notification)
{
    auto posted = std::make_shared<FakeAlarmNotification>();
    posted->content = notification;
    alarmNotifications.push_back(posted);
    return std::make_unique<FakePostedNotification>(posted);
}

std::vector<std::shared_ptr<FakePanel>> FakePlatform::openPanels() const
{
    std::vector<std::shared_ptr<FakePanel>> open;
    std::copy_if(
        panels.begin(), panels.end(), std::back_inserter(open), [](auto const& p) { return p->open; });
    return open;
}

bool FakePlatform::createDirectories(std::string const& path)
{
    if (files.contains(path))
        return false;
    for (std::string dir = path; dir != "/"; dir = parentOf(dir)) {
        if (files.contains(dir))
            return false;
        directories.insert(dir);
    }
    return true;
}

std::optional<std::string> FakePlatform::readFile(std::string const& path)
{
    if (failingReads.contains(path))
        return std::nullopt;
    auto it = files.find(path);
    if (it == files.end())
        return std::nullopt;
    return it->second;
}

bool FakePlatform::writeFileAtomically(std::string const& path, std::string_view bytes)
{
    if (failAllWrites || failingWrites.contains(path) || !directories.contains(parentOf(path))
        || directories.contains(path))
        return false;
    files[path] = std::string(bytes);
    ++writeCount;
    return true;
}

std::unique_ptr<Timer> FakePlatform::startTimer(double seconds, bool repeats, std::function<void()> action)
{
    auto state = std::make_shared<FakeTimerState>();
    state->id = nextTimerId_++;
    state->intervalMs = seconds * 1000.0;
    state->dueMs = nowMs_ + state->intervalMs;
    state->repeats = repeats;
    state->action = std::move(action);
    timers_.push_back(state);
    return std::make_unique<FakeTimer>(state);
}

void FakePlatform::checkAllowed(std::function<void(bool allowed)> completion)
{
    pendingCompletions.push_back(
        [this, completion = std::move(completion)] { completion(notificationsAllowed); });
}

std::unique_ptr<ActivityToken> FakePlatform::beginActivity(std::string const& reason)
{
    ++activitiesBegun;
    lastActivityReason = reason;
    return std::make_unique<FakeToken>(activitiesEnded);
}

namespace {

class FakeSleepHold final : public SleepHold {
public:
    explicit FakeSleepHold(int& released)
        : released_(released)
    {
    }
    ~FakeSleepHold() override { ++released_; }

private:
    int& released_;
};

} // namespace

namespace {

class FakeScreenWakeLock final : public ScreenWakeLock {
public:
    explicit FakeScreenWakeLock(int& released)
        : released_(released)
    {
    }
    ~FakeScreenWakeLock() override { ++released_; }

private:
    int& released_;
};

} // namespace

std::unique_ptr<ScreenWakeLock> FakePlatform::wakeScreen(std::string const&)
{
    ++screenWakesTaken;
    return std::make_unique<FakeScreenWakeLock>(screenWakesReleased);
}

std::unique_ptr<SleepHold> FakePlatform::holdSleep(std::string const& reason)
{
    ++sleepHoldsTaken;
    lastSleepHoldReason = reason;
    return std::make_unique<FakeSleepHold>(sleepHoldsReleased);
}

std::optional<std::string> FakePlatform::resourcePath(std::string const& name, std::string const& extension)
{
    if (extension != "wav" || !resources.contains(name))
        return std::nullopt;
    return "/resources/" + name + "." + extension;
}

std::unique_ptr<SoundPlayer> FakePlatform::createPlayer(std::string const& path, std::string const& mediaName)
{
    if (undecodable.contains(path))
        return nullptr;
    auto sound = std::make_shared<FakeSound>();
    sound->path = path;
    sound->mediaName = mediaName;
    sounds.push_back(sound);
    return std::make_unique<FakeSoundPlayer>(sound, audioOutput);
}

std::unique_ptr<WebView> FakePlatform::createWebView(WebViewConfig config)
{
    auto view = std::make_shared<FakeWebView>();
    view->config = std::move(config);
    webViews.push_back(view);
    return std::make_unique<FakeWebViewHandle>(view);
}

std::unique_ptr<Window> FakePlatform::createMainWindow(WindowLayout const& layout, WebView&)
{
    auto window = std::make_shared<FakeWindow>();
    window->layout = layout;
    windows.push_back(window);
    return std::make_unique<FakeWindowHandle>(window);
}

std::unique_ptr<AlarmPanel> FakePlatform::showAlarmPanel(PanelContent const& content)
{
    auto panel = std::make_shared<FakePanel>();
    panel->content = content;
    panels.push_back(panel);
    return std::make_unique<FakePanelHandle>(panel);
}

void FakePlatform::ask(Question const& question, std::function<void(std::size_t choice)> answered)
{
    questions.push_back(question);
    pendingAnswer_ = std::move(answered);
}

void FakePlatform::answerQuestion(std::size_t choice)
{
    auto answered = std::exchange(pendingAnswer_, nullptr);
    if (answered)
        answered(choice);
}

} // namespace brindle::fake
