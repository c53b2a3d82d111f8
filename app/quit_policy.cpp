#include "app/app_delegate.h"
#include "platform/unicode.h"

namespace brindle {

// Quitting silences every alarm still to come, so Brindle asks first while one lies ahead.
// Reminders do not count: the question is about ringing.
bool AppDelegate::applicationShouldTerminate()
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
    if (alarmAhead && !confirmQuit())
        return false;
    // Nothing rings once Brindle has quit, so nothing may wake the machine for it any more.
    wakeUp_.reset();
    platform_.setWakeUp(std::nullopt, {});
    releaseSleepHold();
    return true;
}

bool AppDelegate::confirmQuit()
{
    AlertQuestion question;
    question.messageText = "Quit Brindle?";
    question.informativeText
        = "Ringing alarms cannot sound while Brindle is quit. Close the window to keep alarms running.";
    question.buttons = { "Keep running", "Quit" };
    return platform_.runModalAlert(question) == alertSecondButtonReturn;
}

} // namespace brindle
