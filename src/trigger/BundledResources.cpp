#include "trigger/BundledResources.h"

#include <sys/stat.h>

#include <filesystem>

#include "system/ExecutablePath.h"

namespace tovak::trigger {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::vector<std::string> resourceFoldersAbove(const std::string& executableFolder) {
    std::vector<std::string> folders;
    std::filesystem::path folder = std::filesystem::path(executableFolder).lexically_normal();
    if (!folder.has_filename() && folder.has_parent_path() && folder != folder.root_path()) {
        folder = folder.parent_path();
    }
    for (;;) {
        folders.push_back((folder / "share" / "tovak").string());
        std::filesystem::path parent = folder.parent_path();
        if (parent.empty() || parent == folder) {
            break;
        }
        folder = parent;
    }
    return folders;
}

BundledResources::BundledResources() {
    if (std::optional<std::string> folder = system::executableDirectory()) {
        folders_ = resourceFoldersAbove(*folder);
    }
}

std::optional<std::string> BundledResources::pathForResource(const std::string& name,
                                                             const std::string& extension) const {
    if (name.empty() || name.find('/') != std::string::npos || extension.find('/') != std::string::npos) {
        return std::nullopt;
    }
    const std::string fileName = extension.empty() ? name : name + "." + extension;
    for (const std::string& folder : folders_) {
        std::string candidate = folder + "/" + fileName;
        if (isRegularFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace tovak::trigger
