#include "app/ScreenLockerFactory.h"

#include <utility>

#include "lock/PlatformLock.h"

namespace tovak::app {

std::shared_ptr<monitor::ScreenLocker> makeScreenLocker(std::shared_ptr<runtime::MainQueue> mainQueue) {
    // The headless main loops take posts from their own thread only, so the chain runs there.
    return lock::makePlatformScreenLockerOnMainQueue(std::move(mainQueue));
}

}  // namespace tovak::app
