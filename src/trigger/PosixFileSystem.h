#pragma once

#include "monitor/ports/Services.h"

namespace tovak::trigger {

// The real file system. Only a regular file (or a link to one) can be a trigger document: a folder,
// a device or a pipe named by a stored path is not usable.
class PosixFileSystem final : public monitor::FileSystem {
  public:
    [[nodiscard]] bool fileExists(const std::string& path) const override;
};

}  // namespace tovak::trigger
