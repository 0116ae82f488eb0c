#pragma once

#include <memory>

#include "monitor/Services.h"
#include "runtime/TaskQueue.h"
#include "system/ScriptRunner.h"

namespace tovak::platform {

// This platform's screen lock chain (chosen when the program is built). The completion comes on main.
[[nodiscard]] std::shared_ptr<monitor::ScreenLocker> makePlatformScreenLocker(std::shared_ptr<runtime::MainQueue> main);

// This platform's script runner: osascript on macOS; on Linux there is no scripting service and
// every script fails.
[[nodiscard]] std::shared_ptr<system::ScriptRunner> makePlatformScriptRunner();

}  // namespace tovak::platform
