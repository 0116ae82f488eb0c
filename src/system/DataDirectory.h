#pragma once

#include <optional>
#include <string>

#include "monitor/ports/Services.h"

namespace tovak::system {

// The folder of Tovak's installed data (share/tovak): the face model under models/, the demo
// photographs under demo/ and the default trigger document. $TOVAK_DATA_DIR, when it names a
// folder, serves all of them; else the folder beside the executable (<prefix>/bin/../share/tovak);
// else the build tree's.
[[nodiscard]] std::optional<std::string> findDataDirectory();

// A file under the data folder, whether or not it exists; the build tree's path when no folder
// was found, so that messages name a useful place.
[[nodiscard]] std::string dataFile(const std::string& relativePath);

// Tovak's folder for what it can make again ($XDG_CACHE_HOME/tovak, or ~/.cache/tovak when that is
// not set or not absolute), whether or not it exists; empty without a home to put it in.
[[nodiscard]] std::string cacheFolder();

// The program's own resources: regular files in one data folder.
class DataDirectoryResources final : public monitor::Resources {
  public:
    // The folder findDataDirectory finds.
    DataDirectoryResources();
    explicit DataDirectoryResources(std::optional<std::string> directory) : directory_(std::move(directory)) {}

    [[nodiscard]] std::optional<std::string> pathForResource(const std::string& name,
                                                             const std::string& extension) const override;

  private:
    std::optional<std::string> directory_;
};

}  // namespace tovak::system
