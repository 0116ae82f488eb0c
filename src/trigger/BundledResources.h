#pragma once

#include <optional>
#include <string>
#include <vector>

#include "monitor/Services.h"

namespace tovak::trigger {

// The program's own files in share/tovak, found from the executable's folder: next to an
// installed program (<prefix>/bin -> <prefix>/share/tovak) and in the build tree, where the build
// copies them to <build>/share/tovak above every executable's folder.
class BundledResources final : public monitor::Resources {
  public:
    // Searches share/tovak in the executable's folder and in each of its parents.
    BundledResources();
    explicit BundledResources(std::vector<std::string> folders) : folders_(std::move(folders)) {}

    [[nodiscard]] std::optional<std::string> pathForResource(const std::string& name,
                                                             const std::string& extension) const override;
    [[nodiscard]] const std::vector<std::string>& folders() const { return folders_; }

  private:
    std::vector<std::string> folders_;
};

// share/tovak under the folder and under each of its ancestors, nearest first.
[[nodiscard]] std::vector<std::string> resourceFoldersAbove(const std::string& executableFolder);

}  // namespace tovak::trigger
