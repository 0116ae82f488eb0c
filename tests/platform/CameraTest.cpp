#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <thread>

#include "monitor/PrivacyMonitor.h"
#include "platform/opencv/V4L2CameraSession.h"
#include "platform/opencv/V4L2Devices.h"
#include "runtime/Simulation.h"
#include "support/Fakes.h"

namespace tovak::testing {
namespace {

namespace fs = std::filesystem;
using platform::CameraProbe;
using platform::V4L2System;

// A folder standing in for /dev (and one for /sys/class/video4linux), removed afterwards.
class TempTree {
  public:
    TempTree() {
        root_ =
            fs::temp_directory_path() / ("tovak-v4l2-" + std::to_string(::getpid()) + "-" + std::to_string(next_++));
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "sys");
    }
    ~TempTree() { fs::remove_all(root_); }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    [[nodiscard]] std::string dev() const { return (root_ / "dev").string(); }
    [[nodiscard]] std::string sys() const { return (root_ / "sys").string(); }
    void addNode(const std::string& name) { std::ofstream(root_ / "dev" / name) << ""; }
    void addSysName(const std::string& node, const std::string& name) {
        fs::create_directories(root_ / "sys" / node);
        std::ofstream(root_ / "sys" / node / "name") << name << "\n";
    }

  private:
    fs::path root_;
    static inline int next_ = 0;
};

// The nodes of a fake kernel: what open gives and what each node can do.
struct FakeNode {
    int openResult = 3;  // a descriptor, or minus an errno
    unsigned int caps = V4L2_CAP_VIDEO_CAPTURE;
    std::string card = "Card";
};

V4L2System fakeSystem(std::map<std::string, FakeNode> nodes, std::vector<int>* closed = nullptr) {
    V4L2System system = V4L2System::real("/nonexistent", "/nonexistent");
    system.listNodes = [nodes] {
        std::vector<std::string> paths;
        for (const auto& [path, node] : nodes) {
            paths.push_back(path);
        }
        return paths;
    };
    auto byFd = std::make_shared<std::map<int, FakeNode>>();
    system.open = [nodes, byFd](const std::string& path) {
        const FakeNode& node = nodes.at(path);
        if (node.openResult >= 0) {
            (*byFd)[node.openResult] = node;
        }
        return node.openResult;
    };
    system.queryCapabilities = [byFd](int fd) -> std::optional<V4L2System::Capabilities> {
        const FakeNode& node = byFd->at(fd);
        return V4L2System::Capabilities{node.caps, node.card};
    };
    system.close = [closed](int fd) {
        if (closed != nullptr) {
            closed->push_back(fd);
        }
    };
    return system;
}

TEST(CameraProbeTest, NoDeviceNodesIsUnavailable) {
    TempTree tree;
    EXPECT_EQ(probeDefaultCamera(V4L2System::real(tree.dev(), tree.sys())).outcome, CameraProbe::Outcome::unavailable);
}

TEST(CameraProbeTest, ANodeThatIsNoVideoDeviceIsSkipped) {
    // A regular file named video0 opens, but VIDIOC_QUERYCAP fails on it.
    TempTree tree;
    tree.addNode("video0");
    tree.addNode("videox");
    EXPECT_EQ(probeDefaultCamera(V4L2System::real(tree.dev(), tree.sys())).outcome, CameraProbe::Outcome::unavailable);
}

TEST(CameraProbeTest, RealNodesAreTriedInNumericOrder) {
    TempTree tree;
    for (const char* name : {"video10", "video2", "video1", "vbi0"}) {
        tree.addNode(name);
    }
    const std::vector<std::string> nodes = V4L2System::real(tree.dev(), tree.sys()).listNodes();
    ASSERT_EQ(nodes.size(), 3U);
    EXPECT_EQ(fs::path(nodes[0]).filename(), "video1");
    EXPECT_EQ(fs::path(nodes[1]).filename(), "video2");
    EXPECT_EQ(fs::path(nodes[2]).filename(), "video10");
}

TEST(CameraProbeTest, PermissionRefusalIsAccessDenied) {
    for (int error : {EACCES, EPERM}) {
        const CameraProbe probe = probeDefaultCamera(fakeSystem({{"/dev/video0", FakeNode{-error}}}));
        EXPECT_EQ(probe.outcome, CameraProbe::Outcome::accessDenied) << error;
    }
}

TEST(CameraProbeTest, ABusyOrFailingDeviceIsUnavailableNotDenied) {
    for (int error : {EBUSY, ENODEV, EIO, ENOENT}) {
        const CameraProbe probe = probeDefaultCamera(fakeSystem({{"/dev/video0", FakeNode{-error}}}));
        EXPECT_EQ(probe.outcome, CameraProbe::Outcome::unavailable) << error;
    }
}

TEST(CameraProbeTest, TheFirstCaptureNodeWinsOverRefusedAndMetadataNodes) {
    std::vector<int> closed;
    const CameraProbe probe = probeDefaultCamera(fakeSystem({{"/dev/video0", FakeNode{-EACCES}},
                                                             {"/dev/video1", FakeNode{4, V4L2_CAP_META_CAPTURE}},
                                                             {"/dev/video2", FakeNode{5}},
                                                             {"/dev/video3", FakeNode{6}}},
                                                            &closed));
    EXPECT_EQ(probe.outcome, CameraProbe::Outcome::found);
    EXPECT_EQ(probe.path, "/dev/video2");
    // Probing leaves nothing open.
    EXPECT_EQ(closed, (std::vector<int>{4, 5}));
}

TEST(CameraProbeTest, TheNameComesFromSysfsThenFromTheCard) {
    TempTree tree;
    V4L2System system = fakeSystem({{tree.dev() + "/video0", FakeNode{3, V4L2_CAP_VIDEO_CAPTURE, "UVC Card"}}});
    system.deviceName = V4L2System::real(tree.dev(), tree.sys()).deviceName;
    EXPECT_EQ(probeDefaultCamera(system).name, "UVC Card");
    tree.addSysName("video0", "Integrated Camera: Integrated C");
    EXPECT_EQ(probeDefaultCamera(system).name, "Integrated Camera: Integrated C");
}

template <typename T, typename U>
std::shared_ptr<T> unowned(U& object) {
    return std::shared_ptr<T>(std::shared_ptr<T>{}, &object);
}

// The monitor's start on the V4L2 session, on the simulation runtime.
std::string statusAfterStart(V4L2System system) {
    runtime::Simulation sim;
    monitor::PrivacyMonitor::Dependencies deps;
    deps.mainQueue = unowned<runtime::MainQueue>(sim.main);
    deps.sessionQueue = unowned<runtime::TaskQueue>(sim.session);
    deps.backgroundQueue = unowned<runtime::TaskQueue>(sim.background);
    deps.clock = unowned<runtime::Clock>(sim.clock);
    auto camera = std::make_shared<platform::V4L2CameraSession>(std::move(system));
    deps.session = camera;
    deps.faceDetector = std::make_shared<ScriptedDetector>();
    auto monitor = monitor::PrivacyMonitor::create(std::move(deps));
    monitor->start();
    sim.drain();
    EXPECT_FALSE(monitor->isRunning.get());
    EXPECT_FALSE(camera->isRunning());
    return monitor->statusLine.get();
}

TEST(CameraSessionTest, NoCameraOnThisMachineShowsCameraError) {
    TempTree tree;
    EXPECT_EQ(statusAfterStart(V4L2System::real(tree.dev(), tree.sys())), "Камера: ошибка");
}

TEST(CameraSessionTest, TheRealDevicesOfThisMachine) {
    if (!V4L2System::real().listNodes().empty()) {
        GTEST_SKIP() << "this machine has video nodes; the fake trees cover the failures";
    }
    EXPECT_EQ(statusAfterStart(V4L2System::real()), "Камера: ошибка");
}

TEST(CameraSessionTest, ARefusedDeviceShowsNoAccess) {
    EXPECT_EQ(statusAfterStart(fakeSystem({{"/dev/video0", FakeNode{-EACCES}}})), "Камера: нет доступа");
}

TEST(CameraSessionTest, ADeviceThatProbesButDoesNotOpenForCaptureShowsCameraError) {
    // The probe is satisfied, but OpenCV cannot open a regular file as a V4L2 camera.
    TempTree tree;
    tree.addNode("video0");
    V4L2System system = fakeSystem({{tree.dev() + "/video0", FakeNode{}}});
    EXPECT_EQ(statusAfterStart(system), "Камера: ошибка");
}

TEST(CameraSessionTest, LinuxNeverAsksForPermission) {
    platform::V4L2CameraSession refused(fakeSystem({{"/dev/video0", FakeNode{-EPERM}}}));
    EXPECT_EQ(refused.authorizationStatus(), monitor::CameraAuthorization::denied);
    platform::V4L2CameraSession open(fakeSystem({{"/dev/video0", FakeNode{}}}));
    EXPECT_EQ(open.authorizationStatus(), monitor::CameraAuthorization::authorized);
    bool answered = false;
    bool granted = true;
    refused.requestAccess([&](bool yes) {
        answered = true;
        granted = yes;
    });
    EXPECT_TRUE(answered);
    EXPECT_FALSE(granted);
}

// A camera that delivers until it is unplugged.
class UnpluggableCapture final : public cv::VideoCapture {
  public:
    explicit UnpluggableCapture(std::atomic<bool>& plugged) : plugged_(plugged) {}
    bool read(cv::OutputArray image) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!plugged_) {
            return false;
        }
        cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(90)).copyTo(image);
        return true;
    }

  private:
    std::atomic<bool>& plugged_;
};

TEST(CameraSessionTest, ReadsFailingForHalfASecondMeanGoneAndAHeldCameraIsBusy) {
    using namespace std::chrono_literals;
    std::atomic<bool> plugged{true};
    std::atomic<bool> busy{false};
    V4L2System system = fakeSystem({{"/dev/video0", FakeNode{}}});
    system.isBusy = [&](int) { return busy.load(); };
    platform::V4L2CameraSession session(system, [&](const std::string&) -> std::shared_ptr<cv::VideoCapture> {
        return plugged && !busy ? std::make_shared<UnpluggableCapture>(plugged) : nullptr;
    });
    std::atomic<int> calls{0};
    std::promise<monitor::CameraInterruption> told;
    session.setInterruptionHandler([&](monitor::CameraInterruption reason) {
        if (calls++ == 0) {
            told.set_value(reason);
        }
    });
    const monitor::CameraDevice camera{"/dev/video0", "Cam"};
    ASSERT_TRUE(session.addInput(camera));
    ASSERT_TRUE(session.addVideoOutput());
    session.startRunning();
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(calls, 0) << "a camera that delivers is not gone";
    const auto unplugged = std::chrono::steady_clock::now();
    plugged = false;
    std::future<monitor::CameraInterruption> answer = told.get_future();
    ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(answer.get(), monitor::CameraInterruption::disconnected);
    EXPECT_GE(std::chrono::steady_clock::now() - unplugged, 500ms);
    session.stopRunning();
    EXPECT_EQ(calls, 1);

    EXPECT_FALSE(session.addInput(camera));
    EXPECT_FALSE(session.lastInputWasBusy()) << "gone is not busy";
    plugged = true;
    busy = true;
    EXPECT_FALSE(session.addInput(camera));
    EXPECT_TRUE(session.lastInputWasBusy());
    busy = false;
    EXPECT_TRUE(session.addInput(camera));
    EXPECT_FALSE(session.lastInputWasBusy());
}

}  // namespace
}  // namespace tovak::testing
