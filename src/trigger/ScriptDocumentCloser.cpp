#include "trigger/ScriptDocumentCloser.h"

#include "trigger/CloseScript.h"

namespace tovak::trigger {

void ScriptDocumentCloser::closeDocument(const std::string& standardizedPath) {
    if (runner_) {
        static_cast<void>(runner_->run(closeDocumentScript(standardizedPath)));
    }
}

}  // namespace tovak::trigger
