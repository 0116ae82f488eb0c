#pragma once

#include "monitor/Services.h"

namespace tovak::trigger {

// The real file system. A folder is not a file: a stored path that names one is not usable.
class PosixFileSystem final : public monitor::FileSystem {
  public:
    [[nodiscard]] bool fileExists(const std::string& path) const override;
};

}  // namespace tovak::trigger
