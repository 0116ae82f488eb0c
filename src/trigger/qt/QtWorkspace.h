#pragma once

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// Hands documents to their default application through QDesktopServices. Main thread.
class QtWorkspace final : public monitor::Workspace {
  public:
    // False for a path that is not a readable file, which no application could open, and when the
    // desktop has no application to hand it to.
    bool open(const std::string& path) override;
};

}  // namespace tovak::trigger
