#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QDBusMessage>
#include <cerrno>
#include <filesystem>
#include <future>
#include <map>
#include <thread>

#include "FakeV4L2.h"
#include "camera/FakeCameras.h"
#include "camera/V4L2CameraSession.h"
#include "camera/V4L2Devices.h"
#include "camera/linux/LogindLid.h"
#include "runtime/SerialQueue.h"
#include "support/LockerSession.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"

namespace tovak::testing {
namespace {

namespace fs = std::filesystem;
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

TEST(CameraListTest, RealNodesAreTriedInNumericOrderAndFilesThatAreNoDeviceAreSkipped) {
    TempTree tree;
    for (const char* name : {"video10", "video2", "video1", "vbi0", "videox"}) {
        tree.write("dev/" + std::string(name), "");
    }
    const std::vector<std::string> nodes = V4L2System::real(tree.dev(), tree.sys()).listNodes();
    EXPECT_EQ(nodes,
              (std::vector<std::string>{tree.dev() + "/video1", tree.dev() + "/video2", tree.dev() + "/video10"}));
    // A regular file opens, but VIDIOC_QUERYCAP fails on it.
    EXPECT_TRUE(listCameras(V4L2System::real(tree.dev(), tree.sys())).cameras.empty());
}

TEST(CameraListTest, CaptureNodesByNameWithInfraredMarkedAndMetadataAndRefusedOnesLeftOut) {
    const auto closed = std::make_shared<std::vector<int>>();
    const auto nodes = std::make_shared<Nodes>(Nodes{{"/dev/video0", kBuiltIn},
                                                     {"/dev/video1", FakeNode{7, V4L2_CAP_META_CAPTURE}},
                                                     {"/dev/video2", kInfrared},
                                                     {"/dev/video3", FakeNode{-EACCES}},
                                                     {"/dev/video4", kWebcam},
                                                     {"/dev/video5", kLoopback}});
    const camera::CameraList list = listCameras(fakeSystemOn(nodes, closed));
    EXPECT_TRUE(list.refused);
    EXPECT_EQ(*closed, (std::vector<int>{3, 7, 4, 5, 6})) << "listing leaves nothing open";
    std::vector<std::string> shown;
    for (const camera::CameraInfo& camera : list.cameras) {
        shown.push_back(camera.path + " " + camera.name + (camera.infrared ? " (ir) " : " ") + camera.identity);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "/dev/video0 Integrated C /dev/v4l/by-id/usb-Chicony_Integrated_Camera-video-index0",
                         "/dev/video2 Integrated I (ir) /dev/v4l/by-id/usb-Chicony_Integrated_Camera-video-index2",
                         "/dev/video4 HD Pro Webcam C920 HD Pro Webcam C920 @ usb-0000:00:14.0-2",
                         "/dev/video5 Dummy video device Dummy video device"}));

    // Linux never asks: a refused node is "no access" only while no camera is there to take.
    for (const auto& [name, refused, denied] :
         {std::tuple{"EACCES", FakeNode{-EACCES}, true}, std::tuple{"EPERM", FakeNode{-EPERM}, true},
          std::tuple{"EBUSY", FakeNode{-EBUSY}, false}, std::tuple{"ENODEV", FakeNode{-ENODEV}, false}}) {
        SCOPED_TRACE(name);
        camera::V4L2CameraSession session(fakeSystem({{"/dev/video0", refused}}));
        EXPECT_EQ(session.authorizationStatus(),
                  denied ? monitor::CameraAuthorization::denied : monitor::CameraAuthorization::authorized);
        std::optional<bool> granted;
        session.requestAccess([&](bool yes) { granted = yes; });
        EXPECT_EQ(granted, !denied);
    }
    EXPECT_EQ(camera::V4L2CameraSession(fakeSystem({{"/dev/video0", FakeNode{-EACCES}}, {"/dev/video1", kWebcam}}))
                  .authorizationStatus(),
              monitor::CameraAuthorization::authorized);
}

TEST(CameraListTest, TheChoiceTheLidAndGreyPicturesDecideWhichCameraIsTaken) {
    using By = camera::CameraChoice::By;
    const std::vector<camera::CameraInfo> all = listCameras(fakeSystem({{"/dev/video0", kBuiltIn},
                                                                        {"/dev/video1", kInfrared},
                                                                        {"/dev/video2", kLoopback},
                                                                        {"/dev/video3", kWebcam}}))
                                                    .cameras;
    const struct Row {
        const char* name;
        std::vector<int> present;  // indexes into all
        camera::CameraChoice choice;
        bool lidClosed;
        std::optional<std::string> taken;
    } rows[] = {
        {"the first colour camera", {0, 1, 2, 3}, {}, false, "/dev/video0"},
        {"lid closed: an external one", {0, 1, 2, 3}, {}, true, "/dev/video3"},
        {"lid closed: one that cannot be placed", {0, 1, 2}, {}, true, "/dev/video2"},
        {"lid closed: the built-in one rather than none", {0, 1}, {}, true, "/dev/video0"},
        {"never an infrared one by itself", {1}, {}, false, std::nullopt},
        {"the chosen one, lid or not", {0, 1, 2, 3}, {By::identity, all[2].identity}, true, "/dev/video2"},
        {"the chosen one unplugged: none", {0, 1, 3}, {By::identity, all[2].identity}, false, std::nullopt},
        {"by name, the colour node", {0, 1, 2, 3}, {By::name, "integrated c"}, false, "/dev/video0"},
        {"by name, no such camera", {0, 1, 2, 3}, {By::name, "C922"}, false, std::nullopt},
        {"by device, infrared too", {0, 1, 2, 3}, {By::node, "/dev/video1"}, false, "/dev/video1"},
        {"by its udev link", {0, 1, 2, 3}, {By::node, all[0].identity}, true, "/dev/video0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<camera::CameraInfo> cameras;
        for (const int index : row.present) {
            cameras.push_back(all[static_cast<std::size_t>(index)]);
        }
        const std::optional<camera::CameraInfo> taken = pickCamera(cameras, row.choice, row.lidClosed);
        EXPECT_EQ(taken ? std::optional(taken->path) : std::nullopt, row.taken);
    }
}

TEST(CameraListTest, SysfsTellsABuiltInCameraFromAnExternalOneAndNamesItAndUdevsLinkNamesTheNode) {
    TempTree tree;
    const struct Row {
        const char* device;  // under devices/, none for a virtual device
        std::map<std::string, std::string> attributes;
        CameraPlacement placement;
    } rows[] = {
        {"pci0/usb1/1-5/1-5:1.0", {{"pci0/usb1/1-5/removable", "fixed"}}, CameraPlacement::builtIn},
        {"pci0/usb1/1-6/1-6:1.0", {{"pci0/usb1/1-6/removable", "removable"}}, CameraPlacement::external},
        {"pci0/usb1/1-7/1-7:1.0",
         {{"pci0/usb1/1-7/removable", "unknown"}, {"pci0/usb1/1-7/port/physical_location/lid", "yes"}},
         CameraPlacement::builtIn},
        {"pci0/usb1/1-8/1-8:1.0",
         {{"pci0/usb1/1-8/removable", "unknown"}, {"pci0/usb1/removable", "fixed"}},
         CameraPlacement::unknown},
        {"platform/ipu/sensor", {}, CameraPlacement::builtIn},
        {nullptr, {}, CameraPlacement::unknown},
    };
    const fs::path root = tree.path();
    const V4L2System system = V4L2System::real(tree.dev(), tree.sys(), root / "by-id");
    fs::create_directories(root / "by-id");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string node = "video" + std::to_string(i);
        SCOPED_TRACE(node);
        tree.write("dev/" + node, "");
        fs::create_directories(root / "sys" / node);
        if (rows[i].device != nullptr) {
            fs::create_directories(root / "devices" / rows[i].device);
            fs::create_directory_symlink(root / "devices" / rows[i].device, root / "sys" / node / "device");
        }
        for (const auto& [file, value] : rows[i].attributes) {
            fs::create_directories((root / "devices" / file).parent_path());
            tree.write("devices/" + file, value + "\n");
        }
        EXPECT_EQ(system.placement(tree.dev() + "/" + node), rows[i].placement);
    }
    fs::create_symlink(tree.dev() + "/video1", root / "by-id" / "usb-Logitech_C920_1A2B-video-index0");
    fs::create_symlink("../dev/video2", root / "by-id" / "usb-Chicony_Integrated-video-index0");
    EXPECT_EQ(system.stableLink(tree.dev() + "/video1"),
              (root / "by-id" / "usb-Logitech_C920_1A2B-video-index0").string());
    EXPECT_EQ(system.stableLink(tree.dev() + "/video2"),
              (root / "by-id" / "usb-Chicony_Integrated-video-index0").string());
    EXPECT_EQ(system.stableLink(tree.dev() + "/video0"), std::nullopt);
    // The name the kernel gives, where it gives one (the card's otherwise).
    tree.write("sys/video1/name", "Integrated Camera: Integrated C\n");
    EXPECT_EQ(system.deviceName(tree.dev() + "/video1"), "Integrated Camera: Integrated C");
    EXPECT_EQ(system.deviceName(tree.dev() + "/video0"), std::nullopt);
}

TEST(CameraSessionTest, TheChosenCameraIsWaitedForUntilItIsBackUnderAnyNumber) {
    const auto nodes = std::make_shared<Nodes>(Nodes{{"/dev/video0", kWebcam}});
    camera::V4L2CameraSession session(fakeSystemOn(nodes));
    int lidAsked = 0;
    session.setLidClosed([&] { return ++lidAsked, true; });
    session.setChoice({camera::CameraChoice::By::identity, "/dev/v4l/by-id/" + kBuiltIn.link});
    for (const char* path : {"/dev/video2", "", "/dev/video4"}) {  // chosen, unplugged, back as another number
        SCOPED_TRACE(path);
        nodes->erase("/dev/video2"), nodes->erase("/dev/video4");
        if (*path != '\0') {
            (*nodes)[path] = kBuiltIn;
        }
        const std::optional<monitor::CameraDevice> device = session.defaultVideoDevice();
        EXPECT_EQ(device ? device->id : "", path);
        EXPECT_EQ(session.waitsForChosenDevice(), !device);
    }
    EXPECT_EQ(lidAsked, 0) << "the lid matters only to an automatic choice";
}

TEST(CameraSessionTest, TheMonitorsStartOnTheV4L2SessionShowsWhatWentWrong) {
    TempTree empty;
    TempTree withFile;
    withFile.write("dev/video0", "");
    const struct Row {
        const char* name;
        V4L2System system;
        camera::CameraChoice choice;
        const char* status;
        bool waiting;  // monitoring on, the camera looked for again
    } rows[] = {
        {"no camera", V4L2System::real(empty.dev(), empty.sys()), {}, "Камера: ошибка", false},
        {"refused", fakeSystem({{"/dev/video0", FakeNode{-EACCES}}}), {}, "Камера: нет доступа", false},
        // The listing is satisfied, but a regular file is no V4L2 camera.
        {"not a capture device", fakeSystem({{withFile.dev() + "/video0", FakeNode{}}}), {}, "Камера: ошибка", false},
        {"the chosen camera is not there",
         fakeSystem({{"/dev/video0", kBuiltIn}}),
         {camera::CameraChoice::By::name, "HD Pro Webcam C920"},
         "Камера: отключена",
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto camera = std::make_shared<camera::V4L2CameraSession>(row.system);
        camera->setChoice(row.choice);
        MonitorHarness h([&](monitor::Ports& deps) { deps.session = camera; });
        h.start();
        EXPECT_EQ(h.status(), row.status);
        EXPECT_EQ(h.monitor->isRunning.get(), row.waiting);
        EXPECT_EQ(h.nothingScheduled(), !row.waiting);
        EXPECT_FALSE(camera->isRunning());
    }
}

TEST(CameraLidTest, WhileLogindSaysTheLidIsClosedTheBuiltInCameraIsPassedOver) {
    LockerSession bus;  // a private bus standing for the system bus
    if (!bus.bus().isConnected()) {
        GTEST_SKIP() << "no private bus (dbus-daemon)";
    }
    const QString login = QStringLiteral("org.freedesktop.login1");
    const pid_t logind = spawnChild({TOVAK_FAKE_LOCKER, bus.address().toStdString(), login.toStdString(),
                                     bus.folder() / "logind.log", "--lid-closed"});
    ASSERT_TRUE(bus.waitForName(login));
    camera::LogindLid lid(bus.bus());
    std::vector<bool> heard;
    lid.setOnChange([&](bool closed) { heard.push_back(closed); });
    camera::V4L2CameraSession session(fakeSystem({{"/dev/video0", kBuiltIn}, {"/dev/video2", kWebcam}}));
    session.setLidClosed(lid.question());
    EXPECT_EQ(session.defaultVideoDevice()->id, "/dev/video2");

    // Another program's word on the lid counts for nothing; logind's does.
    const QString path = QStringLiteral("/org/freedesktop/login1"), manager = login + ".Manager";
    bus.bus().send(QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged")
                   << manager << QVariantMap{{"LidClosed", true}} << QStringList{});
    bus.bus().call(QDBusMessage::createMethodCall(login, path, manager, "SetLidClosed") << false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (heard.empty() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_EQ(heard, std::vector<bool>{false});
    EXPECT_EQ(session.defaultVideoDevice()->id, "/dev/video0");
    stopChild(logind);
    ASSERT_TRUE(bus.waitForName(login, false));
    EXPECT_FALSE(lid.closed()) << "without logind the lid counts as open";
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
    camera::V4L2CameraSession session(fakeSystem(Nodes{{"/dev/video0", FakeNode{}}}), fake.calls());
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
    EXPECT_EQ(camera::V4L2CameraSession::failingReadsSeconds, 0.5) << "and no longer: the README promises it";
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
        camera::V4L2CameraSession refused(fakeSystem(Nodes{{"/dev/video0", FakeNode{}}}), refusing.calls());
        EXPECT_FALSE(refused.addInput(camera));
        EXPECT_EQ(refused.lastInputWasBusy(), row.busy);
    }

    // Refused when streaming starts: told as busy.
    FakeV4L2 late;
    late.streamError = EBUSY;
    camera::V4L2CameraSession lateSession(fakeSystem(Nodes{{"/dev/video0", FakeNode{}}}), late.calls());
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
