#pragma once

#include <memory>

#include "monitor/ports/Services.h"
#include "trigger/DocumentRaiser.h"

namespace tovak::trigger {

// This platform's way of closing the trigger document (chosen when the program is built).
[[nodiscard]] std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser();
// Its way of raising an open document's window; none where opening the document already does.
[[nodiscard]] std::shared_ptr<DocumentRaiser> makePlatformDocumentRaiser();

}  // namespace tovak::trigger
