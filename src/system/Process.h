#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovak::system {

// Launches the executable at path with these arguments, directly (never through a shell), with
// standard input and output on /dev/null, and waits at most timeoutSeconds for it to exit.
// True only when it ran and exited with status 0. A tool still running at the deadline counts as
// a failure; it is left to finish and reaped in the background, never killed.
[[nodiscard]] bool runToolAndWait(const std::string& path, const std::vector<std::string>& arguments,
                                  double timeoutSeconds);

// Whether path names a regular file that this process may execute.
[[nodiscard]] bool isExecutableFile(const std::string& path);

// The first executable called name in the folders of PATH, or none.
[[nodiscard]] std::optional<std::string> findExecutableInPath(const std::string& name);

}  // namespace tovak::system
