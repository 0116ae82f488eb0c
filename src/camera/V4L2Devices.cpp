#include "camera/V4L2Devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "camera/CameraNodeWatcher.h"

namespace tovak::camera {

namespace fs = std::filesystem;

namespace {

// Formats that carry no colour: infrared and depth sensors deliver only these.
constexpr std::array kGreyFormats = {
    V4L2_PIX_FMT_GREY,     V4L2_PIX_FMT_Y4,   V4L2_PIX_FMT_Y6,       V4L2_PIX_FMT_Y10,
    V4L2_PIX_FMT_Y12,      V4L2_PIX_FMT_Y14,  V4L2_PIX_FMT_Y16,      V4L2_PIX_FMT_Y16_BE,
    V4L2_PIX_FMT_Y10BPACK, V4L2_PIX_FMT_Y10P, V4L2_PIX_FMT_IPU3_Y10, V4L2_PIX_FMT_Y8I,
    V4L2_PIX_FMT_Y12I,     V4L2_PIX_FMT_Z16,  V4L2_PIX_FMT_INZI,     V4L2_PIX_FMT_CNF4,
};

// "video12" -> 12; other names sort last.
long nodeNumber(const std::string& name) {
    const std::string digits = name.substr(std::strlen("video"));
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::stol(digits);
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::string fixedText(const unsigned char* bytes, std::size_t size) {
    const auto* text = reinterpret_cast<const char*>(bytes);
    return trimmed(std::string(text, strnlen(text, size)));
}

// The first line of a sysfs attribute; empty when there is none.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return trimmed(line);
}

int ioctlRetrying(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::optional<V4L2System::Capabilities> realCapabilities(int fd) {
    v4l2_capability cap{};
    if (ioctlRetrying(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        return std::nullopt;
    }
    V4L2System::Capabilities caps;
    caps.deviceCaps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
    caps.card = fixedText(cap.card, sizeof cap.card);
    caps.busInfo = fixedText(cap.bus_info, sizeof cap.bus_info);
    return caps;
}

std::vector<std::uint32_t> realFormats(int fd) {
    std::vector<std::uint32_t> formats;
    // A bound, in case a driver never says it has no more.
    for (std::uint32_t index = 0; index < 64; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ioctlRetrying(fd, VIDIOC_ENUM_FMT, &description) < 0) {
            break;
        }
        formats.push_back(description.pixelformat);
    }
    return formats;
}

// The USB device (or PCI function) the node belongs to tells where it sits: firmware marks a port
// inside the case as fixed, and one on the lid as such. Nothing but a USB or PCI device says
// "removable"; a camera on neither (a laptop's MIPI sensor) is part of the machine, and a virtual
// one (a loopback device) has no device at all.
CameraPlacement realPlacement(const fs::path& sysNode) {
    std::error_code error;
    const fs::path device = fs::canonical(sysNode / "device", error);
    if (error) {
        return CameraPlacement::unknown;
    }
    for (fs::path dir = device; dir.has_relative_path() && dir.filename() != "devices"; dir = dir.parent_path()) {
        if (attribute(dir / "physical_location" / "lid") == "yes" ||
            attribute(dir / "port" / "physical_location" / "lid") == "yes") {
            return CameraPlacement::builtIn;
        }
        const std::string removable = attribute(dir / "removable");
        if (removable == "fixed") {
            return CameraPlacement::builtIn;
        }
        if (removable == "removable") {
            return CameraPlacement::external;
        }
        if (!removable.empty() || fs::exists(dir / "idVendor", error)) {
            // A USB device that cannot tell: its hubs say nothing about it either.
            return CameraPlacement::unknown;
        }
    }
    return CameraPlacement::builtIn;
}

std::vector<std::string> realNodes(const std::string& devDirectory) {
    std::vector<std::pair<long, std::string>> nodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(devDirectory, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) == 0) {
            const long number = nodeNumber(name);
            if (number >= 0) {
                nodes.emplace_back(number, entry.path().string());
            }
        }
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::string> paths;
    for (auto& node : nodes) {
        paths.push_back(std::move(node.second));
    }
    return paths;
}

std::optional<std::string> realStableLink(const std::string& byIdDirectory, const std::string& path) {
    std::error_code error;
    const fs::path node = fs::canonical(path, error);
    if (error) {
        return std::nullopt;
    }
    std::vector<std::string> links;
    for (const auto& entry : fs::directory_iterator(byIdDirectory, error)) {
        std::error_code ignored;
        if (entry.is_symlink(ignored) && fs::canonical(entry.path(), ignored) == node) {
            links.push_back(entry.path().string());
        }
    }
    // The same choice however the directory happens to be ordered.
    return links.empty() ? std::nullopt : std::optional(*std::min_element(links.begin(), links.end()));
}

bool sameLetters(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

V4L2System V4L2System::real(std::string devDirectory, std::string sysDirectory, std::string byIdDirectory) {
    V4L2System system;
    system.listNodes = [devDirectory] { return realNodes(devDirectory); };
    system.open = [](const std::string& path) {
        CameraNodeWatcher::noteOwnOpen(path);
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    };
    system.queryCapabilities = realCapabilities;
    system.formats = realFormats;
    system.close = [](int fd) { ::close(fd); };
    system.deviceName = [sysDirectory](const std::string& path) -> std::optional<std::string> {
        std::string name = attribute(fs::path(sysDirectory) / fs::path(path).filename() / "name");
        return name.empty() ? std::nullopt : std::optional(name);
    };
    system.stableLink = [byIdDirectory](const std::string& path) { return realStableLink(byIdDirectory, path); };
    system.placement = [sysDirectory](const std::string& path) {
        return realPlacement(fs::path(sysDirectory) / fs::path(path).filename());
    };
    return system;
}

CameraList listCameras(const V4L2System& system) {
    CameraList list;
    for (const std::string& path : system.listNodes()) {
        const int fd = system.open(path);
        if (fd < 0) {
            list.refused = list.refused || fd == -EACCES || fd == -EPERM;
            continue;
        }
        const std::optional<V4L2System::Capabilities> caps = system.queryCapabilities(fd);
        // Metadata and output nodes share the video* names; only capture nodes are cameras.
        const bool capture = caps && (caps->deviceCaps & V4L2_CAP_VIDEO_CAPTURE) != 0;
        const std::vector<std::uint32_t> formats = capture ? system.formats(fd) : std::vector<std::uint32_t>{};
        system.close(fd);
        if (!capture) {
            continue;
        }
        CameraInfo camera;
        camera.path = path;
        const std::optional<std::string> sysName = system.deviceName(path);
        camera.name = sysName ? *sysName : (caps->card.empty() ? path : caps->card);
        // A node that lists no format at all is not taken for a grey one.
        camera.infrared = !formats.empty() && std::all_of(formats.begin(), formats.end(), [](std::uint32_t format) {
            return std::find(kGreyFormats.begin(), kGreyFormats.end(), format) != kGreyFormats.end();
        });
        const std::optional<std::string> link = system.stableLink(path);
        camera.identity = link ? *link : caps->busInfo.empty() ? camera.name : camera.name + " @ " + caps->busInfo;
        camera.placement = system.placement(path);
        list.cameras.push_back(std::move(camera));
    }
    return list;
}

bool isChosen(const CameraChoice& choice, const CameraInfo& camera) {
    switch (choice.by) {
        case CameraChoice::By::automatic:
            return false;
        case CameraChoice::By::identity:
            return camera.identity == choice.value;
        case CameraChoice::By::node:
            return camera.path == choice.value || camera.identity == choice.value;
        case CameraChoice::By::name:
            return sameLetters(camera.name, choice.value);
    }
    return false;
}

std::optional<CameraInfo> pickCamera(const std::vector<CameraInfo>& cameras, const CameraChoice& choice,
                                     bool lidClosed) {
    // A node named by its path is taken whatever it is; otherwise grey pictures are no use to a
    // face detector, and a built-in camera's name is often its infrared node's too.
    const auto eligible = [&](const CameraInfo& camera) {
        return (choice.by == CameraChoice::By::automatic || isChosen(choice, camera)) &&
               (!camera.infrared || choice.by == CameraChoice::By::node);
    };
    // Behind a closed lid a built-in camera sees the keyboard.
    const auto rank = [&](const CameraInfo& camera) {
        if (!lidClosed || choice.by != CameraChoice::By::automatic) {
            return 0;
        }
        return camera.placement == CameraPlacement::external ? 0 : camera.placement == CameraPlacement::unknown ? 1 : 2;
    };
    std::optional<CameraInfo> best;
    for (const CameraInfo& camera : cameras) {
        if (eligible(camera) && (!best || rank(camera) < rank(*best))) {
            best = camera;
        }
    }
    return best;
}

}  // namespace tovak::camera
