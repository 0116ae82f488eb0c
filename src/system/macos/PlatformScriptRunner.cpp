#include "system/PlatformScriptRunner.h"

namespace tovak::system {

std::shared_ptr<ScriptRunner> makePlatformScriptRunner() {
    return std::make_shared<OsascriptRunner>();
}

}  // namespace tovak::system
