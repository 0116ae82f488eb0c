#include "lock/PlatformLock.h"

#include <cstdlib>

#include "lock/ScreenLock.h"
#include "lock/linux/LinuxLockChain.h"
#include "lock/linux/LinuxSessionLockWatcher.h"
#include "runtime/SerialQueue.h"

namespace tovak::lock {

namespace {

LinuxLockOptions sessionOptions() {
    LinuxLockOptions options;
    if (const char* session = std::getenv("XDG_SESSION_ID"); session != nullptr && *session != '\0') {
        options.sessionId = session;
    }
    return options;
}

lock::LockChain sessionLockChain() {
    return linuxLockChain(QDBusConnection::sessionBus(), QDBusConnection::systemBus(), sessionOptions());
}

}  // namespace

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main) {
    // The D-Bus calls and their confirmations wait; the user interface does not.
    return std::make_shared<ScreenLock>(std::move(main), sessionLockChain(),
                                        std::make_shared<runtime::SerialQueue>("tovak.lock"));
}

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLockerOnMainQueue(std::shared_ptr<runtime::MainQueue> main) {
    return std::make_shared<ScreenLock>(std::move(main), sessionLockChain());
}

std::shared_ptr<monitor::SessionLockWatcher> makePlatformSessionLockWatcher() {
    // Also where nothing can be watched yet (isAvailable false): a screensaver started later is heard.
    return std::make_shared<LinuxSessionLockWatcher>(QDBusConnection::sessionBus(), QDBusConnection::systemBus(),
                                                     sessionOptions());
}

}  // namespace tovak::lock
