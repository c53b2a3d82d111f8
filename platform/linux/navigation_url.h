#pragma once

#include "platform/web_view.h"

#include <optional>

namespace brindle::native {

// Splits a request address the way the navigation policy reads it: the whole text, the scheme,
// the host name without port and the %-decoded path. None when there is no address or it does
// not parse as an absolute URI.
std::optional<NavigationUrl> parseNavigationUrl(char const* uri);

} // namespace brindle::native
