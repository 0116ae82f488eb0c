#include "trigger/PlatformDocumentCloser.h"

#include "trigger/linux/XcbDocumentCloser.h"

namespace tovak::trigger {

std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser() {
    return std::make_shared<XcbDocumentCloser>();
}

}  // namespace tovak::trigger
