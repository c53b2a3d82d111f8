#pragma once

#include "bridge/intake.h"
#include "platform/notifications.h"
#include "platform/web_view.h"
#include "ringing/ringer.h"
#include "schedule/schedule.h"

#include <cstdint>
#include <optional>
#include <string>

namespace brindle {

// The page's way into Brindle: every message the planner posts passes the intake checks, is
// carried out on the schedule or the ringing, and is answered in the page.
class PageBridge {
public:
    PageBridge(Notifications& notifications, WebView& webView, Schedule& schedule, Ringer& ringer,
        std::string appHost);

    void handleMessage(ScriptMessage const& message);

private:
    void replaceSchedule(std::int64_t id, RequestData const& data);
    void preview(std::int64_t id, RequestData const& data);
    void answerPermission(std::int64_t id);
    void reply(std::int64_t id, ReplyValue const& value = true, std::optional<std::string> const& error = {});

    Notifications& notifications_;
    WebView& webView_;
    Schedule& schedule_;
    Ringer& ringer_;
    std::string const appHost_;
};

} // namespace brindle
