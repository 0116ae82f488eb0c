#include "camera/V4L2Devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "camera/CameraNodeWatcher.h"

namespace tovak::camera {

namespace fs = std::filesystem;

namespace {

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

}  // namespace

V4L2System V4L2System::real(std::string devDirectory, std::string sysDirectory) {
    V4L2System system;
    system.listNodes = [devDirectory] {
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
    };
    system.open = [](const std::string& path) {
        CameraNodeWatcher::noteOwnOpen(path);
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    };
    system.queryCapabilities = [](int fd) -> std::optional<Capabilities> {
        v4l2_capability cap{};
        int result = 0;
        do {
            result = ::ioctl(fd, VIDIOC_QUERYCAP, &cap);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            return std::nullopt;
        }
        Capabilities caps;
        caps.deviceCaps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
        const auto* card = reinterpret_cast<const char*>(cap.card);
        caps.card = trimmed(std::string(card, strnlen(card, sizeof cap.card)));
        return caps;
    };
    system.close = [](int fd) { ::close(fd); };
    system.deviceName = [sysDirectory](const std::string& path) -> std::optional<std::string> {
        std::ifstream in(fs::path(sysDirectory) / fs::path(path).filename() / "name");
        std::string name;
        if (!in || !std::getline(in, name)) {
            return std::nullopt;
        }
        name = trimmed(name);
        if (name.empty()) {
            return std::nullopt;
        }
        return name;
    };
    return system;
}

CameraProbe probeDefaultCamera(const V4L2System& system) {
    bool refused = false;
    for (const std::string& path : system.listNodes()) {
        const int fd = system.open(path);
        if (fd < 0) {
            refused = refused || fd == -EACCES || fd == -EPERM;
            continue;
        }
        const std::optional<V4L2System::Capabilities> caps = system.queryCapabilities(fd);
        system.close(fd);
        // Metadata and output nodes share the video* names; only capture nodes are cameras.
        if (!caps || (caps->deviceCaps & V4L2_CAP_VIDEO_CAPTURE) == 0) {
            continue;
        }
        CameraProbe probe;
        probe.outcome = CameraProbe::Outcome::found;
        probe.path = path;
        const std::optional<std::string> sysName = system.deviceName(path);
        probe.name = sysName ? *sysName : (caps->card.empty() ? path : caps->card);
        return probe;
    }
    CameraProbe probe;
    probe.outcome = refused ? CameraProbe::Outcome::accessDenied : CameraProbe::Outcome::unavailable;
    return probe;
}

}  // namespace tovak::camera
