#include "lock/PlatformLock.h"

#include "lock/MacLockChain.h"
#include "lock/ScreenLock.h"
#include "system/PlatformScriptRunner.h"

namespace tovak::lock {

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main) {
    // The whole chain runs on the main thread, as the login library expects.
    return std::make_shared<ScreenLock>(std::move(main), macLockChain(system::makePlatformScriptRunner()));
}

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLockerOnMainQueue(std::shared_ptr<runtime::MainQueue> main) {
    return makePlatformScreenLocker(std::move(main));
}

std::shared_ptr<monitor::SessionLockWatcher> makePlatformSessionLockWatcher() {
    return nullptr;
}

}  // namespace tovak::lock
