#include "trigger/PlatformDocuments.h"

#include "system/ScriptRunner.h"
#include "trigger/NoWindowControl.h"
#include "trigger/ScriptDocumentCloser.h"

namespace tovak::trigger {

// Opening a document that is open already brings its window forward there; closing goes through
// the document applications' scripting.
PlatformDocuments makePlatformDocuments(std::shared_ptr<WindowControl>, std::shared_ptr<monitor::Workspace> opener,
                                        std::shared_ptr<runtime::TaskQueue>, std::shared_ptr<runtime::TaskQueue>,
                                        RaisingWorkspace::Notice) {
    return {std::move(opener), std::make_shared<ScriptDocumentCloser>(std::make_shared<system::OsascriptRunner>())};
}

DesktopSession DesktopSession::fromEnvironment() {
    return {};
}

std::shared_ptr<WindowControl> makeWindowControl(const DesktopSession&) {
    return std::make_shared<NoWindowControl>();
}

}  // namespace tovak::trigger
