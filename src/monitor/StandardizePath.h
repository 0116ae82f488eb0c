#pragma once

#include <string>

namespace tovak::monitor {

// The path with a leading tilde expanded and redundant parts removed ("//", "/./", "/..", a
// trailing slash). Purely textual: links are not followed.
[[nodiscard]] std::string standardizePath(const std::string& path, const std::string& homeDirectory);

}  // namespace tovak::monitor
