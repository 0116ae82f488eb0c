#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovak::app {

// What the tovak command was asked to do.
struct Options {
    // "demo", a video file or a folder of images; none for the default camera.
    std::optional<std::string> camera;
    bool headless = false;
    // Report the lock as done instead of locking.
    bool lockDryRun = false;
    // Stop after this many seconds of source time.
    std::optional<double> maxSeconds;
    // Play the demo scene or the file again and again; the headless run then reports its memory,
    // descriptors and threads every 10 000 frames.
    bool loop = false;
    bool help = false;
    bool version = false;
};

struct ParsedCommandLine {
    std::optional<Options> options;
    // Set when options is none.
    std::string error;
};

// The arguments after the program name.
[[nodiscard]] ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);
[[nodiscard]] std::string usageText();

}  // namespace tovak::app
