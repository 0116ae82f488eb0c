#pragma once

#include <optional>

namespace tovak::headless {

// What this process holds right now, from /proc/self.
struct ProcessResources {
    long residentKilobytes = 0;
    int openFileDescriptors = 0;
    int threads = 0;

    // None where /proc cannot be read.
    static std::optional<ProcessResources> current();
};

}  // namespace tovak::headless
