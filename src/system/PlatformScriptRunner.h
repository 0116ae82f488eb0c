#pragma once

#include <memory>

#include "system/ScriptRunner.h"

namespace tovak::system {

// This platform's script runner: osascript on macOS; on Linux there is no scripting service and
// every script fails.
[[nodiscard]] std::shared_ptr<ScriptRunner> makePlatformScriptRunner();

}  // namespace tovak::system
