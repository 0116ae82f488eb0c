#include "trigger/PlatformDocumentCloser.h"

#include "system/ScriptRunner.h"
#include "trigger/ScriptDocumentCloser.h"

namespace tovak::trigger {

std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser() {
    return std::make_shared<ScriptDocumentCloser>(std::make_shared<system::OsascriptRunner>());
}

}  // namespace tovak::trigger
