#pragma once

#include "schedule/alarm.h"

#include <string>

namespace brindle {

// The mark of one delivery: the alarm's key followed directly by the shortest decimal text
// that reads back as its `at`, in plain positional notation with at least one digit after the
// point (a whole time ends in ".0"). Moving an alarm to another time under the same key gives
// it a new fired key, so it can be delivered again.
std::string firedKey(Alarm const& alarm);

} // namespace brindle
