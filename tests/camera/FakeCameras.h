#pragma once

#include <linux/videodev2.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/V4L2Devices.h"

namespace tovak::testing {

using camera::V4L2System;

// The nodes of a fake kernel: what open gives and what each node can do.
struct FakeNode {
    int openResult = 3;  // a descriptor, or minus an errno
    unsigned int caps = V4L2_CAP_VIDEO_CAPTURE;
    std::string card = "Card";
    std::vector<std::uint32_t> formats = {V4L2_PIX_FMT_YUYV};
    std::string link{};  // under /dev/v4l/by-id
    camera::CameraPlacement placement = camera::CameraPlacement::unknown;
    std::string bus = "usb-0000:00:14.0-1";
};
using Nodes = std::map<std::string, FakeNode>;

// The kernel's answers, from nodes as they are at each call (unplugging is erasing one).
inline V4L2System fakeSystemOn(std::shared_ptr<Nodes> nodes,
                               std::shared_ptr<std::vector<int>> closed = std::make_shared<std::vector<int>>()) {
    V4L2System system = V4L2System::real("/nonexistent", "/nonexistent", "/nonexistent");
    system.listNodes = [nodes] {
        std::vector<std::string> paths;
        for (const auto& [path, node] : *nodes) {
            paths.push_back(path);
        }
        return paths;
    };
    auto byFd = std::make_shared<std::map<int, FakeNode>>();
    system.open = [nodes, byFd](const std::string& path) {
        const FakeNode& node = nodes->at(path);
        if (node.openResult >= 0) {
            (*byFd)[node.openResult] = node;
        }
        return node.openResult;
    };
    system.queryCapabilities = [byFd](int fd) -> std::optional<V4L2System::Capabilities> {
        const FakeNode& node = byFd->at(fd);
        return V4L2System::Capabilities{node.caps, node.card, node.bus};
    };
    system.formats = [byFd](int fd) { return byFd->at(fd).formats; };
    system.close = [closed](int fd) { closed->push_back(fd); };
    system.stableLink = [nodes](const std::string& path) -> std::optional<std::string> {
        const std::string& link = nodes->at(path).link;
        return link.empty() ? std::nullopt : std::optional("/dev/v4l/by-id/" + link);
    };
    system.placement = [nodes](const std::string& path) { return nodes->at(path).placement; };
    return system;
}
inline V4L2System fakeSystem(Nodes nodes) {
    return fakeSystemOn(std::make_shared<Nodes>(std::move(nodes)));
}

using camera::CameraPlacement;
inline const FakeNode kBuiltIn{3,
                               V4L2_CAP_VIDEO_CAPTURE,
                               "Integrated C",
                               {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV},
                               "usb-Chicony_Integrated_Camera-video-index0",
                               CameraPlacement::builtIn};
inline const FakeNode kInfrared{4,
                                V4L2_CAP_VIDEO_CAPTURE,
                                "Integrated I",
                                {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_Y16},
                                "usb-Chicony_Integrated_Camera-video-index2",
                                CameraPlacement::builtIn};
inline const FakeNode kWebcam{5,  V4L2_CAP_VIDEO_CAPTURE,    "HD Pro Webcam C920", {V4L2_PIX_FMT_YUYV},
                              "", CameraPlacement::external, "usb-0000:00:14.0-2"};
inline const FakeNode kLoopback{6, V4L2_CAP_VIDEO_CAPTURE, "Dummy video device", {}, "", CameraPlacement::unknown, ""};

}  // namespace tovak::testing
