#pragma once

#include <memory>

#include "monitor/Services.h"

namespace tovak::trigger {

// This platform's way of closing the trigger document (chosen when the program is built).
[[nodiscard]] std::shared_ptr<monitor::DocumentCloser> makePlatformDocumentCloser();

}  // namespace tovak::trigger
