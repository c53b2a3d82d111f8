#include "app/brindle_app.h"

#include "text/unicode.h"

#include <utility>

namespace brindle {

namespace {

constexpr double tickIntervalSeconds = 1.0;
// "Keep running" comes first: the default, which Return and closing the question answer.
constexpr std::size_t quitChoice = 1;

} // namespace

BrindleApp::BrindleApp(Platform& platform, AppSettings settings)
    : platform_(platform)
    , settings_(std::move(settings))
    , schedule_(platform, platform, settings_.folderName)
    , wakeUp_(platform, platform)
    , ringer_(platform, platform, platform, platform, schedule_)
{
    // Whatever changes the schedule moves the wake-up and the activity with it, and a ring that
    // ends lets go of the hold on sleep.
    schedule_.onChanged([this] { wakeUp_.update(schedule_.alarms(), schedule_.fired()); });
    ringer_.onRingingChanged([this](bool ringing) { wakeUp_.ringingChanged(ringing); });
}

// The launch sequence. Its order matters: the schedule is loaded before anything can tick, and
// the keep-awake activity and the wake-up are settled from that schedule once the tick timer runs.
void BrindleApp::launch(LaunchMode mode)
{
    schedule_.load();
    platform_.installMainMenu(mainMenu());

    plannerWindow_.emplace(platform_, platform_, settings_.appHost, settings_.appPort,
        [this](ScriptMessage const& message) { pageBridge_->handleMessage(message); });
    pageBridge_.emplace(platform_, plannerWindow_->webView(), schedule_, ringer_, settings_.appHost);
    plannerWindow_->load();
    // Started with the session, alarms ring from login on and the window waits for the user.
    if (mode == LaunchMode::withWindow)
        plannerWindow_->present();

    tickTimer_ = platform_.startTimer(tickIntervalSeconds, true, [this] { tick(); });
    wakeUp_.update(schedule_.alarms(), schedule_.fired());
    // Alarms that fell due while the machine slept are delivered now, if they are less than
    // fifteen minutes late, rather than at the next beat of the timer.
    platform_.observeWake([this] { tick(); });
}

void BrindleApp::tick()
{
    schedule_.runPass([this](Alarm const& due) {
        if (sameText(due.mode, ringingMode))
            ringer_.ring(due);
        else
            platform_.post({ due.key, "Brindle reminder", due.title });
    });
}

// Hiding Brindle hides a ringing alarm's panel with the main window, so showing Brindle again
// shows the panel too, above the window, while its sound goes on.
void BrindleApp::presentWindow()
{
    if (!plannerWindow_)
        return;
    plannerWindow_->present();
    ringer_.presentPanel();
}

// Launching Brindle again while it runs, or activating its icon, brings the main window back
// whatever else is visible.
void BrindleApp::reopen()
{
    presentWindow();
}

// Quitting silences every alarm still to come, so Brindle asks first while one lies ahead.
void BrindleApp::confirmQuit(std::function<void(bool quit)> answer)
{
    auto decided = [this, answer = std::move(answer)](bool quit) {
        if (quit)
            wakeUp_.cancel();
        answer(quit);
    };
    if (!schedule_.alarmAhead()) {
        decided(true);
        return;
    }

    Question question;
    question.primaryText = "Quit Brindle?";
    question.secondaryText
        = "Ringing alarms cannot sound while Brindle is quit. Close the window to keep alarms running.";
    question.choices = { "Keep running", "Quit" };
    // Passes go on while the question is up, but a ringing alarm's safety stop waits for the
    // answer.
    ringer_.holdSafetyStop();
    platform_.ask(question, [this, decided = std::move(decided)](std::size_t choice) {
        ringer_.releaseSafetyStop();
        decided(choice == quitChoice);
    });
}

} // namespace brindle
