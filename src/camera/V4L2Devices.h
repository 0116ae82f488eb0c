#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovak::camera {

// Where a camera sits, as far as the kernel can tell: built into the machine (a laptop's lid),
// plugged in from outside, or not known.
enum class CameraPlacement { unknown, builtIn, external };

// The system calls a listing makes; real() uses the kernel, tests replace single calls.
struct V4L2System {
    // The device nodes, in the order they are tried.
    std::function<std::vector<std::string>()> listNodes;
    // A file descriptor, or minus the errno.
    std::function<int(const std::string& path)> open;
    // The capabilities that apply to this node (device_caps where the driver reports them), the
    // card name and the bus the device hangs on; none when VIDIOC_QUERYCAP fails.
    struct Capabilities {
        unsigned int deviceCaps = 0;
        std::string card;
        std::string busInfo;
    };
    std::function<std::optional<Capabilities>(int fd)> queryCapabilities;
    // The pixel formats the node captures in (fourccs), in the driver's order.
    std::function<std::vector<std::uint32_t>(int fd)> formats;
    std::function<void(int fd)> close;
    // The name the kernel gives the device (sysfs), if any.
    std::function<std::optional<std::string>(const std::string& path)> deviceName;
    // The link udev made for the node under /dev/v4l/by-id, which keeps its name from boot to boot.
    std::function<std::optional<std::string>(const std::string& path)> stableLink;
    std::function<CameraPlacement(const std::string& path)> placement;

    // devDirectory holds the video* nodes (sorted by number); sysDirectory their sysfs entries;
    // byIdDirectory udev's stable links to them.
    static V4L2System real(std::string devDirectory = "/dev", std::string sysDirectory = "/sys/class/video4linux",
                           std::string byIdDirectory = "/dev/v4l/by-id");
};

// One capture node that can be offered as a camera.
struct CameraInfo {
    // /dev/videoN: the number may change at every plug and boot.
    std::string path;
    // As the driver gives it.
    std::string name;
    // What a choice is kept by: the /dev/v4l/by-id link, else the name and the bus.
    std::string identity;
    // Captures only grey pictures (an infrared face-login camera, a depth sensor).
    bool infrared = false;
    CameraPlacement placement = CameraPlacement::unknown;
};

struct CameraList {
    // Every capture node, in node order; metadata and output nodes are left out.
    std::vector<CameraInfo> cameras;
    // A node refused us for lack of permission.
    bool refused = false;
};

// Opens each node just long enough to ask what it is.
[[nodiscard]] CameraList listCameras(const V4L2System& system);

// Which camera to take: one the user named, or the first colour camera.
struct CameraChoice {
    enum class By {
        automatic,
        // The identity the camera list gives (kept in the settings).
        identity,
        // A device path: /dev/videoN or a /dev/v4l link; an infrared node too.
        node,
        // The driver's name, in any case of letters.
        name,
    };
    By by = By::automatic;
    std::string value;
    friend bool operator==(const CameraChoice&, const CameraChoice&) = default;
};

// Whether the choice names this camera (never for an automatic choice).
[[nodiscard]] bool isChosen(const CameraChoice& choice, const CameraInfo& camera);

// The camera to take now; none when the chosen one is not there (or there is no camera at all).
// An automatic choice takes no infrared camera, and while the lid is closed passes over a built-in
// camera for an external one (for one it cannot place, failing that).
[[nodiscard]] std::optional<CameraInfo> pickCamera(const std::vector<CameraInfo>& cameras, const CameraChoice& choice,
                                                   bool lidClosed);

}  // namespace tovak::camera
