#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "TestData.h"
#include "platform/demo/DemoScene.h"
#include "platform/demo/FileSource.h"
#include "platform/demo/SourceCameraSession.h"
#include "runtime/Simulation.h"

namespace tovak::testing {
namespace {

namespace fs = std::filesystem;
using platform::DemoScene;
using platform::FileSource;

class TempFolder {
  public:
    TempFolder()
        : path_(fs::temp_directory_path() /
                ("tovak-source-" + std::to_string(::getpid()) + "-" + std::to_string(next_++))) {
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] std::string file(const std::string& name) const { return (path_ / name).string(); }
    [[nodiscard]] std::string path() const { return path_.string(); }

  private:
    fs::path path_;
    static inline int next_ = 0;
};

// A picture whose blue channel tells which one it is.
cv::Mat numbered(int n) {
    return cv::Mat(48, 64, CV_8UC3, cv::Scalar(10 * n, 50, 200));
}

TEST(FileSourceTest, BadSourcesSayWhy) {
    TempFolder folder;
    std::string error;
    EXPECT_EQ(FileSource::open(folder.file("missing.mp4"), error), nullptr);
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;

    std::ofstream(folder.file("notes.txt")) << "not a video";
    error.clear();
    EXPECT_EQ(FileSource::open(folder.file("notes.txt"), error), nullptr);
    EXPECT_NE(error.find("not a video"), std::string::npos) << error;

    fs::create_directories(folder.file("empty"));
    std::ofstream(folder.file("empty/readme.txt")) << "no images here";
    error.clear();
    EXPECT_EQ(FileSource::open(folder.file("empty"), error), nullptr);
    EXPECT_NE(error.find("no images"), std::string::npos) << error;
}

TEST(FileSourceTest, AFolderPlaysItsImagesInNameOrderAtThirtyFramesASecond) {
    TempFolder folder;
    // Written out of order, with a file that is no image and one that does not decode.
    cv::imwrite(folder.file("frame10.png"), numbered(3));
    cv::imwrite(folder.file("frame01.png"), numbered(1));
    cv::imwrite(folder.file("frame02.jpg"), numbered(2));
    std::ofstream(folder.file("frame03.png")) << "broken";
    std::ofstream(folder.file("list.txt")) << "frame01.png";
    std::string error;
    auto source = FileSource::open(folder.path(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->name(), fs::path(folder.path()).filename().string());
    std::vector<int> order;
    std::vector<double> times;
    while (auto frame = source->next()) {
        ASSERT_EQ(frame->image->mat().type(), CV_8UC4);
        order.push_back(static_cast<int>(std::lround(frame->image->mat().at<cv::Vec4b>(0, 0)[0] / 10.0)));
        times.push_back(frame->timestamp);
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(times.size(), 3U);
    EXPECT_DOUBLE_EQ(times[0], 0.0);
    EXPECT_DOUBLE_EQ(times[1], 1.0 / 30.0);
}

TEST(FileSourceTest, AVideoPlaysAtItsOwnFrameRate) {
    TempFolder folder;
    const std::string path = folder.file("clip.avi");
    {
        cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0,
                               cv::Size(64, 48));
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 10; ++i) {
            writer.write(numbered(i + 1));
        }
    }
    std::string error;
    auto source = FileSource::open(path, error);
    ASSERT_TRUE(source) << error;
    EXPECT_DOUBLE_EQ(source->framesPerSecond(), 25.0);
    EXPECT_EQ(source->name(), "clip.avi");
    int count = 0;
    double last = -1;
    while (auto frame = source->next()) {
        EXPECT_EQ(frame->image->width(), 64);
        EXPECT_EQ(frame->image->mat().type(), CV_8UC4);
        EXPECT_NEAR(frame->image->mat().at<cv::Vec4b>(10, 10)[0], 10 * (count + 1), 6);
        last = frame->timestamp;
        ++count;
    }
    EXPECT_EQ(count, 10);
    EXPECT_DOUBLE_EQ(last, 9 / 25.0);
}

TEST(DemoSceneTest, TheScriptTellsEveryBehaviourInOrder) {
    const auto at = [](double seconds) { return DemoScene::scriptedFaceCount(static_cast<int>(seconds * 30)); };
    EXPECT_EQ(at(0.0), 1U);
    EXPECT_EQ(at(DemoScene::onlookerArrives - 0.05), 1U);
    EXPECT_EQ(at(DemoScene::onlookerArrives), 2U);
    EXPECT_EQ(at(DemoScene::onlookerLeaves), 1U);
    EXPECT_EQ(at(DemoScene::userLeaves), 0U);
    EXPECT_EQ(at(DemoScene::strangerArrives - 0.05), 0U);
    EXPECT_EQ(at(DemoScene::strangerArrives), 1U);
    // Long enough for an onlooker to be confirmed, for away mode to switch itself on and for a
    // lock a second after the close-up.
    EXPECT_GE(DemoScene::onlookerLeaves - DemoScene::onlookerArrives, 2.5);
    EXPECT_GT(DemoScene::strangerArrives - DemoScene::userLeaves, 10.5);
    EXPECT_GT(DemoScene::sceneEnds - DemoScene::strangerArrives, 1.5);
    EXPECT_EQ(DemoScene::frameCount(), 1380);
}

TEST(DemoSceneTest, FramesAreBgraAtTheMediumPresetAndTheSameEveryTime) {
    std::string error;
    auto a = DemoScene::load(demoPhoto(""), error);
    auto b = DemoScene::load(demoPhoto(""), error);
    ASSERT_TRUE(a && b) << error;
    for (int index : {0, 300, 700, 1200}) {
        const cv::Mat first = a->render(index)->mat();
        EXPECT_EQ(first.type(), CV_8UC4);
        EXPECT_EQ(first.size(), cv::Size(640, 480));
        EXPECT_EQ(cv::norm(first, b->render(index)->mat(), cv::NORM_INF), 0.0) << index;
    }
    // Alive: the user moves between two frames a second apart.
    EXPECT_GT(cv::norm(a->render(30)->mat(), a->render(60)->mat(), cv::NORM_L1), 0.0);
    // Frames come with their own timestamps at 30 a second.
    a->next();
    EXPECT_DOUBLE_EQ(a->next()->timestamp, 1.0 / 30.0);
}

TEST(DemoSceneTest, MissingPhotographsAreAnError) {
    std::string error;
    EXPECT_EQ(DemoScene::load("/nonexistent", error), nullptr);
    EXPECT_NE(error.find("astronaut.png"), std::string::npos) << error;
}

TEST(DemoSceneTest, EachMissingOrUnreadablePhotographIsNamed) {
    const std::vector<std::string> photos{"astronaut.png", "grace_hopper.jpg", "motorcycle_left.png"};
    for (const std::string& broken : photos) {
        SCOPED_TRACE(broken);
        TempFolder folder;
        for (const std::string& photo : photos) {
            fs::copy_file(demoPhoto(photo), folder.file(photo));
        }
        std::ofstream(folder.file(broken), std::ios::trunc) << "not a picture";
        std::string error;
        EXPECT_EQ(DemoScene::load(folder.path(), error), nullptr);
        EXPECT_NE(error.find(broken), std::string::npos) << error;
    }
}

// A normal start says nothing: libpng, for one, warns on standard error about colour profiles.
TEST(DemoSceneTest, LoadingAndRenderingPrintNothing) {
    std::string error;
    ::testing::internal::CaptureStderr();
    auto scene = DemoScene::load(demoPhoto(""), error);
    const bool rendered = scene && scene->render(300) != nullptr;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(rendered) << error;
}

class OneFrameSource final : public platform::FrameSource {
  public:
    std::optional<platform::SourceFrame> next() override {
        if (given_) {
            return std::nullopt;
        }
        given_ = true;
        return platform::SourceFrame{std::make_shared<const imaging::PixelBuffer>(4, 4), 0.0};
    }
    [[nodiscard]] std::string name() const override { return "one"; }
    [[nodiscard]] double framesPerSecond() const override { return 30; }

  private:
    bool given_ = false;
};

TEST(SourceCameraSessionTest, DeliversOnlyWhileRunningWithInputAndOutput) {
    platform::SourceCameraSession session(std::make_unique<OneFrameSource>());
    runtime::ManualSerialQueue queue;
    struct Sink final : monitor::SampleBufferDelegate {
        int frames = 0;
        void captureOutput(imaging::PixelBufferPtr, const monitor::CaptureConnection&) override { ++frames; }
    };
    auto sink = std::make_shared<Sink>();
    session.setSampleBufferDelegate(sink,
                                    std::shared_ptr<runtime::TaskQueue>(std::shared_ptr<runtime::TaskQueue>{}, &queue));
    const auto device = session.defaultVideoDevice();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->localizedName, "one");
    auto frame = session.read();
    ASSERT_TRUE(frame);
    EXPECT_FALSE(session.deliver(frame->image));  // not running
    session.startRunning();
    EXPECT_FALSE(session.deliver(frame->image));  // no input yet
    ASSERT_TRUE(session.addInput(*device));
    ASSERT_TRUE(session.addVideoOutput());
    EXPECT_TRUE(session.deliver(frame->image));
    queue.runAll();
    EXPECT_EQ(sink->frames, 1);
    EXPECT_FALSE(session.read());
}

}  // namespace
}  // namespace tovak::testing
