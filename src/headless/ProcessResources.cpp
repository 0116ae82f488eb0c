#include "headless/ProcessResources.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace tovak::headless {

std::optional<ProcessResources> ProcessResources::current() {
    std::ifstream status("/proc/self/status");
    if (!status) {
        return std::nullopt;
    }
    ProcessResources resources;
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> resources.residentKilobytes;
        } else if (key == "Threads:") {
            status >> resources.threads;
        }
        status.ignore(1 << 16, '\n');
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        ++resources.openFileDescriptors;
    }
    // The directory listing holds a descriptor of its own while it counts.
    if (resources.openFileDescriptors > 0) {
        --resources.openFileDescriptors;
    }
    return resources;
}

}  // namespace tovak::headless
