#include "app/app_delegate.h"

namespace brindle {

AppDelegate::AppDelegate(Platform& platform, std::string appHost, std::string appPort)
    : platform_(platform)
    , appHost_(std::move(appHost))
    , appPort_(std::move(appPort))
{
}

std::string AppDelegate::pageAddress() const
{
    std::string address = "https://" + appHost_;
    if (!appPort_.empty())
        address += ":" + appPort_;
    return address + "/planner";
}

} // namespace brindle
