#pragma once

#include <memory>
#include <string>

#include "lock/ScreenLock.h"
#include "system/ScriptRunner.h"

namespace tovak::lock {

// Where the macOS chain finds what it uses; the defaults are the system's own places.
struct MacLockPaths {
    std::string firstLibrary = "/System/Library/PrivateFrameworks/login.framework/Versions/Current/login";
    std::string secondLibrary = "/System/Library/PrivateFrameworks/login.framework/login";
    std::string symbol = "SACLockScreenImmediate";
    std::string sessionTool = "/System/Library/CoreServices/Menu Extras/User.menu/Contents/Resources/CGSession";
};

inline constexpr const char* macLockKeystrokeScript =
    "tell application \"System Events\" to keystroke \"q\" using {command down, control down}";

inline constexpr const char* macLockFailureMessage =
    "Блокировка не сработала. В macOS 15+ нет CGSession; включите: Конфиденциальность → Автоматизация → Товак → "
    "System Events.";

// The session tool blocks until the lock is in place; past this it is taken as failed.
inline constexpr double sessionToolTimeoutSeconds = 30.0;

// The login library at its two places, the session tool with "-suspend", then the lock keystroke
// typed through the script runner.
[[nodiscard]] LockChain macLockChain(std::shared_ptr<system::ScriptRunner> runner, MacLockPaths paths = {});

}  // namespace tovak::lock
