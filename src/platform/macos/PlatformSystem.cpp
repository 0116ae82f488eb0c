#include "platform/PlatformSystem.h"

#include "system/MacLockChain.h"
#include "system/ScreenLock.h"

namespace tovak::platform {

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main) {
    // The whole chain runs on the main thread, as the login library expects.
    return std::make_shared<system::ScreenLock>(std::move(main), system::macLockChain(makePlatformScriptRunner()));
}

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLockerOnMainQueue(std::shared_ptr<runtime::MainQueue> main) {
    return makePlatformScreenLocker(std::move(main));
}

std::shared_ptr<monitor::SessionLockWatcher> makePlatformSessionLockWatcher() {
    return nullptr;
}

std::shared_ptr<system::ScriptRunner> makePlatformScriptRunner() {
    return std::make_shared<system::OsascriptRunner>();
}

}  // namespace tovak::platform
