#include "app/app_delegate.h"
#include "text/unicode.h"

#include <utility>

namespace brindle {

namespace {

// "Keep running" comes first: the default, which Return and closing the question answer.
constexpr std::size_t quitChoice = 1;

} // namespace

// Quitting silences every alarm still to come, so Brindle asks first while one lies ahead.
// Reminders do not count: the question is about ringing.
void AppDelegate::quitRequested(std::function<void(bool quit)> answer)
{
    bool alarmAhead = false;
    for (auto const& alarm : alarms_) {
        if (!sameText(alarm.mode, ringingMode))
            continue;
        if (platform_.nowMs() < alarm.at) {
            alarmAhead = true;
            break;
        }
    }
    auto decided = [this, answer = std::move(answer)](bool quit) {
        if (quit) {
            // Nothing rings once Brindle has quit, so nothing may wake the machine for it any more.
            wakeUp_.reset();
            platform_.setWakeUp(std::nullopt, {});
            releaseSleepHold();
        }
        answer(quit);
    };
    if (!alarmAhead) {
        decided(true);
        return;
    }

    Question question;
    question.messageText = "Quit Brindle?";
    question.informativeText
        = "Ringing alarms cannot sound while Brindle is quit. Close the window to keep alarms running.";
    question.choices = { "Keep running", "Quit" };
    // Passes go on while the question is up, but a ringing alarm's safety stop waits for the
    // answer, so that the alarm is not stopped behind the user's back.
    quitQuestionUp_ = true;
    platform_.ask(question, [this, decided = std::move(decided)](std::size_t choice) {
        quitQuestionUp_ = false;
        if (std::exchange(safetyStopHeld_, false))
            stopAlarm();
        decided(choice == quitChoice);
    });
}

} // namespace brindle
