#include "system/ExecutablePath.h"

#include <unistd.h>

#include <array>
#include <filesystem>

namespace tovak::system {

std::optional<std::string> executableDirectory() {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return std::nullopt;
    }
    return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length))).parent_path().string();
}

}  // namespace tovak::system
