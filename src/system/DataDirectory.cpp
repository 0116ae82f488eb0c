#include "system/DataDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tovak::system {

namespace fs = std::filesystem;

std::optional<std::string> findDataDirectory() {
    std::vector<fs::path> candidates;
    if (const char* env = std::getenv("TOVAK_DATA_DIR"); env != nullptr && *env != '\0') {
        candidates.emplace_back(env);
    }
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(exe.parent_path() / ".." / "share" / "tovak");
    }
    candidates.emplace_back(TOVAK_BUILD_DATA_DIR);
    for (const fs::path& dir : candidates) {
        if (fs::is_directory(dir / "models", ec)) {
            return fs::weakly_canonical(dir, ec).string();
        }
    }
    return std::nullopt;
}

std::string dataFile(const std::string& relativePath) {
    const std::optional<std::string> dir = findDataDirectory();
    return (fs::path(dir ? *dir : TOVAK_BUILD_DATA_DIR) / relativePath).string();
}

}  // namespace tovak::system
