#include "platform/PlatformSystem.h"

#include <cstdlib>

#include "platform/linux/LinuxLockChain.h"
#include "runtime/SerialQueue.h"
#include "system/ScreenLock.h"

namespace tovak::platform {

std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main) {
    LinuxLockOptions options;
    if (const char* session = std::getenv("XDG_SESSION_ID"); session != nullptr && *session != '\0') {
        options.sessionId = session;
    }
    // The D-Bus calls and their confirmations wait; the user interface does not.
    auto worker = std::make_shared<runtime::SerialQueue>("tovak.lock");
    return std::make_shared<system::ScreenLock>(
        std::move(main), linuxLockChain(QDBusConnection::sessionBus(), QDBusConnection::systemBus(), options),
        std::move(worker));
}

std::shared_ptr<system::ScriptRunner> makePlatformScriptRunner() {
    return std::make_shared<system::UnavailableScriptRunner>();
}

}  // namespace tovak::platform
