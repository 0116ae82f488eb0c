#pragma once

#include <optional>
#include <string>

namespace tovak::system {

// The folder of Tovak's installed data (share/tovak): the face model under models/ and the demo
// photographs under demo/. Looked up, in order, in $TOVAK_DATA_DIR, beside the executable
// (<prefix>/bin/../share/tovak) and in the build tree.
[[nodiscard]] std::optional<std::string> findDataDirectory();

// A file under the data folder, whether or not it exists; the build tree's path when no folder
// was found, so that messages name a useful place.
[[nodiscard]] std::string dataFile(const std::string& relativePath);

}  // namespace tovak::system
