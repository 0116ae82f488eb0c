#include "system/PlatformScriptRunner.h"

namespace tovak::system {

std::shared_ptr<ScriptRunner> makePlatformScriptRunner() {
    return std::make_shared<UnavailableScriptRunner>();
}

}  // namespace tovak::system
