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
    if (!alarmAhead)
        return true;

    AlertQuestion question;
    question.messageText = "Quit Brindle?";
    question.informativeText
        = "Ringing alarms cannot sound while Brindle is quit. Close the window to keep alarms running.";
    question.buttons = { "Keep running", "Quit" };
    return platform_.runModalAlert(question) == alertSecondButtonReturn;
}

} // namespace brindle
