#include "system/ExecutablePath.h"

#include <mach-o/dyld.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tovak::system {

std::optional<std::string> executableDirectory() {
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(buffer.data(), error);
    if (error) {
        return std::nullopt;
    }
    return resolved.parent_path().string();
}

}  // namespace tovak::system
