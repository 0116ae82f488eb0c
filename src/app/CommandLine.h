#pragma once

#include <optional>
#include <string>
#include <vector>

#include "imaging/Geometry.h"

namespace tovak::app {

// Which engine runs the face detector's network: oneDNN in its fast precision, oneDNN in f32,
// OpenCV DNN.
enum class DetectorBackend { onednn, onednnF32, opencv };

// What a command asks of the Tovak already running (over the session bus), when anything.
enum class Control { none, status, pause, resume, away, back, stop };

// What the tovak command was asked to do.
struct Options {
    // "demo", a video file or a folder of images; none for a camera.
    std::optional<std::string> camera;
    // The camera to take instead of the one chosen in the window: a device path (/dev/videoN, a
    // /dev/v4l link), or a camera's name.
    std::optional<std::string> cameraDevice;
    std::optional<std::string> cameraName;
    // Print the cameras there are and end.
    bool listCameras = false;
    bool headless = false;
    // Report the lock as done instead of locking.
    bool lockDryRun = false;
    // Stop after this many seconds of source time.
    std::optional<double> maxSeconds;
    // Start monitoring at once; show only the tray icon (the window when there is no tray).
    bool startMonitoring = false;
    bool hidden = false;
    // Faces to take as scenery in a headless run: normalised boxes of the upright frame, origin at
    // the lower left, as the detector gives them.
    std::vector<imaging::Rect> ignoredFaces;
    DetectorBackend detector = DetectorBackend::onednn;
    // A demo or file replay paced at the frames' own times, as a camera delivers them.
    bool realtime = false;
    // Every frame through the face network, none reusing the faces of the one before.
    bool detectEveryFrame = false;
    // With --headless: an event whenever a frame's face count differs from the frame before's.
    bool faceCounts = false;
    // Play the demo scene or the file again and again; the headless run then reports its memory,
    // descriptors and threads every 10 000 frames.
    bool loop = false;
    // With --headless: the journal's lines of the run are appended to this file.
    std::optional<std::string> journal;
    // A file standing for the camera's device node: another program opening it is seen as one
    // asking for the camera.
    std::optional<std::string> cameraNode;
    // With --headless: the session is locked this many seconds after away mode switched itself on,
    // unless a face comes back first.
    std::optional<double> lockOnLeaveSeconds;
    // Write the audit trail to the systemd journal (the window watching a camera always does).
    bool audit = false;
    // A command for the running Tovak; the status as one JSON object; the pause's length in seconds.
    Control control = Control::none;
    bool json = false;
    double pauseSeconds = 0;
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
// A pause's length as --pause takes it ("15m", "1h", "90s", "90"): seconds, none for anything else
// or for more than a day.
[[nodiscard]] std::optional<double> parseDuration(const std::string& text);

}  // namespace tovak::app
