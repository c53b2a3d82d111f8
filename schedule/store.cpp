#include "app/app_delegate.h"
#include "build_config.h"
#include "schedule/alarm_json.h"

namespace brindle {

// The store lives in the user's data folder. Without one (a broken environment) Brindle keeps
// its schedule in memory only: nothing is read and nothing is written.
std::optional<std::string> AppDelegate::storeURL()
{
    auto data = platform_.userDataDirectory();
    if (!data)
        return std::nullopt;
    auto folder = *data + "/" + build::folderName;
    // A failure shows itself when the write into the folder fails, and that is swallowed too.
    platform_.createDirectories(folder);
    return folder + "/alarms.json";
}

void AppDelegate::loadAlarms()
{
    auto path = storeURL();
    if (!path)
        return;
    auto text = platform_.readFile(*path);
    if (!text)
        return;
    if (auto alarms = decodeAlarmsJson(*text))
        alarms_ = std::move(*alarms);
}

void AppDelegate::save()
{
    updateActivity();
    updateWakeUp();
    auto text = encodeAlarmsJson(alarms_);
    if (text.empty())
        return;
    auto path = storeURL();
    if (!path)
        return;
    // The write goes aside and is renamed over the old file, so a failure leaves that file whole
    // and the next save tries again.
    platform_.writeFileAtomically(*path, text);
}

} // namespace brindle
