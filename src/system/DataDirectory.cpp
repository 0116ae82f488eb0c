#include "system/DataDirectory.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "system/ExecutablePath.h"

namespace tovak::system {

namespace fs = std::filesystem;

std::optional<std::string> findDataDirectory() {
    std::error_code ec;
    // One folder serves everything: a model from one place and a decoy from another would be a
    // mix nobody asked for.
    if (const char* env = std::getenv("TOVAK_DATA_DIR"); env != nullptr && *env != '\0' && fs::is_directory(env, ec)) {
        return fs::weakly_canonical(env, ec).string();
    }
    std::vector<fs::path> candidates;
    if (const std::optional<std::string> exe = executableDirectory()) {
        candidates.push_back(fs::path(*exe) / ".." / "share" / "tovak");
    }
    candidates.emplace_back(TOVAK_BUILD_DATA_DIR);
    for (const fs::path& dir : candidates) {
        if (fs::is_directory(dir, ec)) {
            return fs::weakly_canonical(dir, ec).string();
        }
    }
    return std::nullopt;
}

std::string cacheFolder() {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
        return std::string(cache) + "/tovak";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::string(home) + "/.cache/tovak";
    }
    return "";
}

std::string dataFile(const std::string& relativePath) {
    const std::optional<std::string> dir = findDataDirectory();
    return (fs::path(dir ? *dir : TOVAK_BUILD_DATA_DIR) / relativePath).string();
}

DataDirectoryResources::DataDirectoryResources() : directory_(findDataDirectory()) {}

std::optional<std::string> DataDirectoryResources::pathForResource(const std::string& name,
                                                                   const std::string& extension) const {
    if (!directory_ || name.empty() || name.find('/') != std::string::npos ||
        extension.find('/') != std::string::npos) {
        return std::nullopt;
    }
    const std::string candidate = *directory_ + "/" + (extension.empty() ? name : name + "." + extension);
    struct stat info {};
    if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return candidate;
}

}  // namespace tovak::system
