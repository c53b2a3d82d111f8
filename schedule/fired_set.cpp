#include "schedule/fired_set.h"

#include "text/unicode.h"

namespace brindle {

bool FiredSet::contains(std::string_view firedKey) const
{
    if (isAscii(firedKey))
        return keys_.find(firedKey) != keys_.end();
    return keys_.find(std::string_view(canonicalText(firedKey))) != keys_.end();
}

void FiredSet::insert(std::string firedKey)
{
    if (!isAscii(firedKey))
        firedKey = canonicalText(firedKey);
    if (keys_.contains(std::string_view(firedKey)))
        return;
    keys_.insert(firedKey);
    order_.push_back(std::move(firedKey));
}

std::vector<std::string> FiredSet::mostRecent(std::size_t count) const
{
    auto first = order_.size() > count ? order_.end() - static_cast<std::ptrdiff_t>(count) : order_.begin();
    return { first, order_.end() };
}

} // namespace brindle
