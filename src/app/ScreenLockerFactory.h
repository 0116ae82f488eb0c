#pragma once

#include <memory>

#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"

namespace tovak::app {

// The screen locker of this platform, working on the given main queue.
[[nodiscard]] std::shared_ptr<monitor::ScreenLocker> makeScreenLocker(std::shared_ptr<runtime::MainQueue> mainQueue);

}  // namespace tovak::app
