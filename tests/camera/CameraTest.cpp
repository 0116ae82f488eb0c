#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <filesystem>
#include <future>
#include <map>
#include <thread>

#include "FakeV4L2.h"
#include "camera/V4L2CameraSession.h"
#include "camera/V4L2Devices.h"
#include "runtime/SerialQueue.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"

namespace tovak::testing {
namespace {

namespace fs = std::filesystem;
using camera::CameraProbe;
using camera::V4L2System;

// A folder standing in for /dev and one for /sys/class/video4linux.
struct TempTree : TempDir {
    TempTree() : TempDir("tovak-v4l2") {
        fs::create_directories(path() / "dev");
        fs::create_directories(path() / "sys");
    }
    [[nodiscard]] std::string dev() const { return *this / "dev"; }
    [[nodiscard]] std::string sys() const { return *this / "sys"; }
};

// The nodes of a fake kernel: what open gives and what each node can do.
struct FakeNode {
    int openResult = 3;  // a descriptor, or minus an errno
    unsigned int caps = V4L2_CAP_VIDEO_CAPTURE;
    std::string card = "Card";
};

V4L2System fakeSystem(std::map<std::string, FakeNode> nodes,
                      std::shared_ptr<std::vector<int>> closed = std::make_shared<std::vector<int>>()) {
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
    system.close = [closed](int fd) { closed->push_back(fd); };
    return system;
}

TEST(CameraProbeTest, RealNodesAreTriedInNumericOrderAndFilesThatAreNoDeviceAreSkipped) {
    TempTree tree;
    for (const char* name : {"video10", "video2", "video1", "vbi0", "videox"}) {
        tree.write("dev/" + std::string(name), "");
    }
    const std::vector<std::string> nodes = V4L2System::real(tree.dev(), tree.sys()).listNodes();
    EXPECT_EQ(nodes,
              (std::vector<std::string>{tree.dev() + "/video1", tree.dev() + "/video2", tree.dev() + "/video10"}));
    // A regular file opens, but VIDIOC_QUERYCAP fails on it.
    EXPECT_EQ(probeDefaultCamera(V4L2System::real(tree.dev(), tree.sys())).outcome, CameraProbe::Outcome::unavailable);
}

TEST(CameraProbeTest, OnlyARefusedOpenIsAccessDeniedAndTheFirstCaptureNodeWins) {
    const struct Row {
        const char* name;
        std::map<std::string, FakeNode> nodes;
        CameraProbe::Outcome outcome;
        std::string path;
        std::vector<int> closed;  // probing leaves nothing open
    } rows[] = {
        {"EACCES", {{"/dev/video0", FakeNode{-EACCES}}}, CameraProbe::Outcome::accessDenied, "", {}},
        {"EPERM", {{"/dev/video0", FakeNode{-EPERM}}}, CameraProbe::Outcome::accessDenied, "", {}},
        {"EBUSY", {{"/dev/video0", FakeNode{-EBUSY}}}, CameraProbe::Outcome::unavailable, "", {}},
        {"ENODEV", {{"/dev/video0", FakeNode{-ENODEV}}}, CameraProbe::Outcome::unavailable, "", {}},
        {"EIO", {{"/dev/video0", FakeNode{-EIO}}}, CameraProbe::Outcome::unavailable, "", {}},
        {"ENOENT", {{"/dev/video0", FakeNode{-ENOENT}}}, CameraProbe::Outcome::unavailable, "", {}},
        {"capture after refused and metadata nodes",
         {{"/dev/video0", FakeNode{-EACCES}},
          {"/dev/video1", FakeNode{4, V4L2_CAP_META_CAPTURE}},
          {"/dev/video2", FakeNode{5}},
          {"/dev/video3", FakeNode{6}}},
         CameraProbe::Outcome::found,
         "/dev/video2",
         {4, 5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto closed = std::make_shared<std::vector<int>>();
        const CameraProbe probe = probeDefaultCamera(fakeSystem(row.nodes, closed));
        EXPECT_EQ(probe.outcome, row.outcome);
        if (!row.path.empty()) {
            EXPECT_EQ(probe.path, row.path);
        }
        EXPECT_EQ(*closed, row.closed);
        // Linux never asks: a refused node is denied, any other answer is authorized.
        camera::V4L2CameraSession session(fakeSystem(row.nodes));
        const bool denied = row.outcome == CameraProbe::Outcome::accessDenied;
        EXPECT_EQ(session.authorizationStatus(),
                  denied ? monitor::CameraAuthorization::denied : monitor::CameraAuthorization::authorized);
        std::optional<bool> granted;
        session.requestAccess([&](bool yes) { granted = yes; });
        EXPECT_EQ(granted, !denied);
    }
}

TEST(CameraProbeTest, TheNameComesFromSysfsThenFromTheCard) {
    TempTree tree;
    V4L2System system = fakeSystem({{tree.dev() + "/video0", FakeNode{3, V4L2_CAP_VIDEO_CAPTURE, "UVC Card"}}});
    system.deviceName = V4L2System::real(tree.dev(), tree.sys()).deviceName;
    EXPECT_EQ(probeDefaultCamera(system).name, "UVC Card");
    tree.write("sys/video0/name", "Integrated Camera: Integrated C\n");
    EXPECT_EQ(probeDefaultCamera(system).name, "Integrated Camera: Integrated C");
}

TEST(CameraSessionTest, TheMonitorsStartOnTheV4L2SessionShowsWhatWentWrong) {
    TempTree empty;
    TempTree withFile;
    withFile.write("dev/video0", "");
    const struct Row {
        const char* name;
        V4L2System system;
        const char* status;
    } rows[] = {
        {"no camera", V4L2System::real(empty.dev(), empty.sys()), "Камера: ошибка"},
        {"refused", fakeSystem({{"/dev/video0", FakeNode{-EACCES}}}), "Камера: нет доступа"},
        // The probe is satisfied, but a regular file is no V4L2 camera.
        {"not a capture device", fakeSystem({{withFile.dev() + "/video0", FakeNode{}}}), "Камера: ошибка"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto camera = std::make_shared<camera::V4L2CameraSession>(row.system);
        MonitorHarness h([&](monitor::Ports& deps) { deps.session = camera; });
        h.start();
        EXPECT_EQ(h.status(), row.status);
        EXPECT_FALSE(h.monitor->isRunning.get());
        EXPECT_FALSE(camera->isRunning());
    }
}

class CountingDelegate final : public monitor::SampleBufferDelegate {
  public:
    void captureOutput(imaging::PixelBufferPtr imageBuffer, const monitor::CaptureConnection&) override {
        frames += imageBuffer && imageBuffer->width() == 64 ? 1 : 0;
    }
    std::atomic<int> frames{0};
};

TEST(CameraSessionTest, FramesFlowUntilTheCameraIsUnpluggedAndABusyCameraIsToldApart) {
    using namespace std::chrono_literals;
    FakeV4L2 fake;
    fake.formats = {{V4L2_PIX_FMT_YUYV, {{64, 48, {30}}}}};
    fake.frames.assign(20, std::vector<std::uint8_t>(64 * 48 * 2, 128));
    fake.unplugWhenDone = true;
    camera::V4L2CameraSession session(fakeSystem({{"/dev/video0", FakeNode{}}}), fake.calls());
    auto queue = std::make_shared<runtime::SerialQueue>("test.session");
    auto delegate = std::make_shared<CountingDelegate>();
    session.setSampleBufferDelegate(delegate, queue);
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
    std::future<monitor::CameraInterruption> answer = told.get_future();
    ASSERT_EQ(answer.wait_for(30s), std::future_status::ready);
    const auto toldAt = std::chrono::steady_clock::now();
    EXPECT_EQ(answer.get(), monitor::CameraInterruption::disconnected);
    EXPECT_GE(toldAt - fake.unpluggedAt, 500ms) << "reads fail for half a second before the camera counts as gone";
    std::promise<void> drained;
    queue->async([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_GT(delegate->frames, 0);
    session.stopRunning();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(fake.takeLog().back(), "close");
    EXPECT_TRUE(fake.mapped.empty()) << "the camera is given up";

    const struct Row {
        const char* name;
        int FakeV4L2::*error;
        int value;
        bool busy;
    } rows[] = {
        {"EBUSY at the format", &FakeV4L2::formatError, EBUSY, true},
        {"EBUSY at the buffers", &FakeV4L2::buffersError, EBUSY, true},
        {"EIO at the format", &FakeV4L2::formatError, EIO, false},
        {"EACCES at open", &FakeV4L2::openError, EACCES, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeV4L2 refusing;
        refusing.*row.error = row.value;
        camera::V4L2CameraSession refused(fakeSystem({{"/dev/video0", FakeNode{}}}), refusing.calls());
        EXPECT_FALSE(refused.addInput(camera));
        EXPECT_EQ(refused.lastInputWasBusy(), row.busy);
    }

    // Refused when streaming starts: told as busy.
    FakeV4L2 late;
    late.streamError = EBUSY;
    camera::V4L2CameraSession lateSession(fakeSystem({{"/dev/video0", FakeNode{}}}), late.calls());
    std::promise<monitor::CameraInterruption> lateTold;
    lateSession.setInterruptionHandler([&](monitor::CameraInterruption reason) { lateTold.set_value(reason); });
    ASSERT_TRUE(lateSession.addInput(camera));
    ASSERT_TRUE(lateSession.addVideoOutput());
    lateSession.startRunning();
    std::future<monitor::CameraInterruption> lateAnswer = lateTold.get_future();
    ASSERT_EQ(lateAnswer.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(lateAnswer.get(), monitor::CameraInterruption::busy);
    lateSession.stopRunning();
}

}  // namespace
}  // namespace tovak::testing
