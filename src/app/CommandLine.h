#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovak::app {

// Which engine runs the face detector's network.
enum class DetectorBackend { onednn, opencv };

// What the tovak command was asked to do.
struct Options {
    // "demo", a video file or a folder of images; none for the default camera.
    std::optional<std::string> camera;
    bool headless = false;
    // Report the lock as done instead of locking.
    bool lockDryRun = false;
    // Stop after this many seconds of source time.
    std::optional<double> maxSeconds;
    DetectorBackend detector = DetectorBackend::onednn;
    // A demo or file replay paced at the frames' own times, as a camera delivers them.
    bool realtime = false;
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
