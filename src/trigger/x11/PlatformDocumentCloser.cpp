#include "trigger/PlatformDocumentCloser.h"

#include "trigger/x11/XcbDocumentCloser.h"
#include "trigger/x11/XcbDocumentRaiser.h"

namespace tovak::trigger {

std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser() {
    return std::make_shared<XcbDocumentCloser>();
}

std::shared_ptr<DocumentRaiser> makePlatformDocumentRaiser() {
    return std::make_shared<XcbDocumentRaiser>();
}

}  // namespace tovak::trigger
