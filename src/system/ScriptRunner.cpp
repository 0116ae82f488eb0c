#include "system/ScriptRunner.h"

#include "system/Process.h"

namespace tovak::system {

bool OsascriptRunner::run(const std::string& source) {
    return runToolAndWait(toolPath_, {"-e", source}, timeoutSeconds_);
}

}  // namespace tovak::system
