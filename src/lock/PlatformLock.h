#pragma once

#include <memory>

#include "monitor/ports/Services.h"
#include "monitor/ports/SessionLockWatcher.h"
#include "runtime/TaskQueue.h"

namespace tovak::lock {

// This platform's screen lock chain (chosen when the program is built); the completion comes on
// main. On Linux the chain waits for lock confirmations on a worker thread of its own, so main must
// accept posts from other threads (the Qt main queue does).
[[nodiscard]] std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main);

// The same chain run on the main queue itself, for a single-threaded runtime such as the headless
// replay's simulation; it blocks that queue for at most a few seconds per locker.
[[nodiscard]] std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLockerOnMainQueue(
    std::shared_ptr<runtime::MainQueue> main);

// This platform's screen lock state on the session's own buses; none where the platform offers
// none to watch. Call on the main thread, where the changes are then reported.
[[nodiscard]] std::shared_ptr<monitor::SessionLockWatcher> makePlatformSessionLockWatcher();

}  // namespace tovak::lock
