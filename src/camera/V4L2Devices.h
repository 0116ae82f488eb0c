#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovak::camera {

// What probing the /dev/video* nodes found.
struct CameraProbe {
    enum class Outcome {
        // A video capture device opened: path and name are set.
        found,
        // No capture device opened, and at least one node refused us for lack of permission.
        accessDenied,
        // No node, or none that opened as a video capture device (busy, failed, metadata only).
        unavailable,
    };
    Outcome outcome = Outcome::unavailable;
    std::string path;
    std::string name;
};

// The system calls a probe makes; real() uses the kernel, tests replace single calls.
struct V4L2System {
    // The device nodes, in the order they are tried.
    std::function<std::vector<std::string>()> listNodes;
    // A file descriptor, or minus the errno.
    std::function<int(const std::string& path)> open;
    // The capabilities that apply to this node (device_caps where the driver reports them), and
    // the card name; none when VIDIOC_QUERYCAP fails.
    struct Capabilities {
        unsigned int deviceCaps = 0;
        std::string card;
    };
    std::function<std::optional<Capabilities>(int fd)> queryCapabilities;
    std::function<void(int fd)> close;
    // The name the kernel gives the device (sysfs), if any.
    std::function<std::optional<std::string>(const std::string& path)> deviceName;

    // devDirectory holds the video* nodes (sorted by number); sysDirectory their sysfs entries.
    static V4L2System real(std::string devDirectory = "/dev", std::string sysDirectory = "/sys/class/video4linux");
};

// The default camera: the first node that opens and can capture video. The errno of the nodes
// that did not open tells a refusal ("no access") from a plain failure.
[[nodiscard]] CameraProbe probeDefaultCamera(const V4L2System& system);

}  // namespace tovak::camera
