#include "platform/PlatformSystem.h"

#include <cstdlib>

#include "platform/linux/LinuxLockChain.h"
#include "runtime/SerialQueue.h"
#include "system/ScreenLock.h"

namespace tovak::platform {

namespace {

system::LockChain sessionLockChain() {
    LinuxLockOptions options;
    if (const char* session = std::getenv("XDG_SESSION_ID"); session != nullptr && *session != '\0') {
        options.sessionId = session;
    }
    return linuxLockChain(QDBusConnection::sessionBus(), QDBusConnection::systemBus(), options);
}

}  // namespace

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main) {
    // The D-Bus calls and their confirmations wait; the user interface does not.
    return std::make_shared<system::ScreenLock>(std::move(main), sessionLockChain(),
                                                std::make_shared<runtime::SerialQueue>("tovak.lock"));
}

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLockerOnMainQueue(std::shared_ptr<runtime::MainQueue> main) {
    return std::make_shared<system::ScreenLock>(std::move(main), sessionLockChain());
}

std::shared_ptr<system::ScriptRunner> makePlatformScriptRunner() {
    return std::make_shared<system::UnavailableScriptRunner>();
}

}  // namespace tovak::platform
