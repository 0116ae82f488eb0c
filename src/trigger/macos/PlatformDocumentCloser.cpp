#include "trigger/PlatformDocumentCloser.h"

#include "system/ScriptRunner.h"
#include "trigger/ScriptDocumentCloser.h"

namespace tovak::trigger {

std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser() {
    return std::make_shared<ScriptDocumentCloser>(std::make_shared<system::OsascriptRunner>());
}

// Opening a document that is open already brings its window forward there.
std::shared_ptr<DocumentRaiser> makePlatformDocumentRaiser() {
    return nullptr;
}

}  // namespace tovak::trigger
