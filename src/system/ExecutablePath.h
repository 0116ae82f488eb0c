#pragma once

#include <optional>
#include <string>

namespace tovak::system {

// The folder of the running executable, or none when the platform will not say.
[[nodiscard]] std::optional<std::string> executableDirectory();

}  // namespace tovak::system
