#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tovak::testing {

// Waits up to 30 s (a loaded two-core machine starts a compositor slowly) for done to become true.
inline bool waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace tovak::testing
