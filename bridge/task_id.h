#pragma once

#include <string_view>

namespace brindle {

// The page task an alarm belongs to: the first non-empty "/"-separated piece of its key (or of
// a snooze's base key), or the empty text when there is none. "a/b/c" and "/a/b" both give "a".
std::string_view taskId(std::string_view key);

} // namespace brindle
