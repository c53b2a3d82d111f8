#pragma once

#include "platform/platform.h"

#include <functional>
#include <memory>

namespace brindle::native {

using DelegateFactory = std::function<std::unique_ptr<ApplicationDelegate>(Platform&)>;

// Runs Brindle as one GtkApplication: builds the delegate, runs its launch sequence on the first
// activation and hands every later one to the delegate as Brindle launched again, and returns
// when the application quits.
int runApplication(int argc, char** argv, DelegateFactory makeDelegate);

} // namespace brindle::native
