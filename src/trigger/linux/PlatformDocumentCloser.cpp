#include "trigger/PlatformDocumentCloser.h"

#include "trigger/linux/XcbDocumentCloser.h"
#include "trigger/linux/XcbDocumentRaiser.h"

namespace tovak::trigger {

std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser() {
    return std::make_shared<XcbDocumentCloser>();
}

std::shared_ptr<DocumentRaiser> makePlatformDocumentRaiser() {
    return std::make_shared<XcbDocumentRaiser>();
}

}  // namespace tovak::trigger
