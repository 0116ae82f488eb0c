#pragma once

#include <functional>

namespace tovak::camera {

// Whether the lid is closed, asked of logind on the system bus at each call (any thread, at most
// timeoutMs); for code that keeps Qt out of its headers.
[[nodiscard]] std::function<bool()> systemLidQuestion(int timeoutMs = 1000);

}  // namespace tovak::camera
