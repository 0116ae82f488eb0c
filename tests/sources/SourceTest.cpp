#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/Simulation.h"
#include "sources/DemoScene.h"
#include "sources/FileSource.h"
#include "sources/PhotoFile.h"
#include "sources/SourceCameraSession.h"
#include "sources/SourceOpener.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"
#include "system/DataDirectory.h"

namespace tovak::testing {
namespace {

namespace fs = std::filesystem;
using sources::DemoScene;
using sources::FileSource;

// A picture whose blue channel tells which one it is.
cv::Mat numbered(int n) {
    return cv::Mat(48, 64, CV_8UC3, cv::Scalar(10 * n, 50, 200));
}

// A picture's file cut in half: it starts as a PNG and does not decode.
std::string truncatedPng(const TempDir& folder, const std::string& name) {
    std::vector<uchar> png;
    cv::imencode(".png", numbered(5), png);
    return folder.write(name, std::string(png.begin(), png.begin() + static_cast<long>(png.size() / 2)));
}

TEST(FileSourceTest, BadSourcesSayWhyAndNameTheFilesPassedOver) {
    TempDir folder;
    folder.write("empty/readme.txt", "no images here");
    folder.write("impostors/a.png", "text");
    folder.write("impostors/b.jpg", std::string("\x13\x9c\xf0\x00\x7f\x42", 6));
    truncatedPng(folder, "cut/a.png");
    const struct Row {
        std::string path;
        const char* reason;
        const char* notes;
    } rows[] = {
        {folder / "missing.mp4", "no such file", ""},
        {folder.write("notes.txt", "text"), "not a video", ""},
        {folder / "empty", "no images", ""},
        {folder / "impostors", "в папке нет ни одной картинки, которую можно прочесть: ",
         "tovak: пропущены файлы, которые не читаются как картинки: a.png, b.jpg\n"},
        {folder / "cut", "в папке нет ни одной картинки, которую можно прочесть: ",
         "tovak: пропущен файл, который не читается как картинка: a.png\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        std::string error;
        std::ostringstream notes;
        EXPECT_EQ(FileSource::open(row.path, error, &notes), nullptr);
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
        EXPECT_EQ(notes.str(), row.notes);
    }
}

// Plays the source to its end: each frame's blue value and timestamp; every frame is BGRA, 64 wide.
std::vector<std::pair<int, double>> play(FileSource& source) {
    std::vector<std::pair<int, double>> frames;
    while (auto frame = source.next()) {
        EXPECT_EQ(frame->image->width(), 64);
        EXPECT_EQ(frame->image->mat().type(), CV_8UC4);
        frames.emplace_back(frame->image->mat().at<cv::Vec4b>(10, 10)[0], frame->timestamp);
    }
    return frames;
}

TEST(FileSourceTest, AFolderPlaysItsPicturesInNameOrderAtThirtyFramesASecondAndNamesEachFilePassedOverOnce) {
    TempDir folder;
    // Written out of order, with a file that is no image, two that start as one and do not decode
    // (the first is found at the open, the other on its turn) and a 16-bit grey picture.
    cv::imwrite(folder / "frame10.png", numbered(3));
    cv::imwrite(folder / "frame01.png", numbered(1));
    cv::imwrite(folder / "frame02.jpg", numbered(2));
    folder.write("frame03.png", "broken");
    truncatedPng(folder, "frame00.png");
    truncatedPng(folder, "frame04.png");
    cv::imwrite(folder / "frame05.png", cv::Mat(48, 64, CV_16UC1, cv::Scalar(40 * 257)));
    folder.write("list.txt", "frame01.png");
    std::string error;
    std::ostringstream notes;
    auto source = FileSource::open(folder.path().string(), error, &notes);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(notes.str(), "tovak: пропущены файлы, которые не читаются как картинки: frame00.png, frame03.png\n");
    EXPECT_EQ(source->name(), folder.path().filename().string());
    EXPECT_EQ(play(*source),
              (std::vector<std::pair<int, double>>{{10, 0.0}, {20, 1.0 / 30.0}, {40, 2.0 / 30.0}, {30, 3.0 / 30.0}}));
    EXPECT_EQ(notes.str(),
              "tovak: пропущены файлы, которые не читаются как картинки: frame00.png, frame03.png\n"
              "tovak: пропущен файл, который не читается как картинка: frame04.png\n");
}

// JPEG frames are decoded into recycled buffers without imread: the pixels must still be imread's
// (converted to BGRA), for colour, grey and subsampled pictures, and a frame cut short must be
// what imread makes of it, not dropped or changed.
TEST(FileSourceTest, JpegFramesHaveImreadsPixelsHoweverTheyAreStored) {
    TempDir folder;
    cv::RNG rng(7);
    cv::Mat grain(240, 320, CV_8UC3);
    rng.fill(grain, cv::RNG::UNIFORM, 0, 256);
    cv::Mat grey(240, 320, CV_8UC1);
    rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
    cv::imwrite(folder / "f0.jpg", grain);
    cv::imwrite(folder / "f1.jpg", grain, {cv::IMWRITE_JPEG_QUALITY, 100});
    cv::imwrite(folder / "f2.jpeg", grey);
    cv::imwrite(folder / "f3.JPG", grain, {cv::IMWRITE_JPEG_QUALITY, 40});
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", grain, jpeg);
    folder.write("f4.jpg", std::string(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 2 / 3)));
    cv::imwrite(folder / "f5.jpg", grain);
    std::string error;
    auto source = FileSource::open(folder.path().string(), error);
    ASSERT_TRUE(source) << error;
    for (const char* name : {"f0.jpg", "f1.jpg", "f2.jpeg", "f3.JPG", "f4.jpg", "f5.jpg"}) {
        SCOPED_TRACE(name);
        const cv::Mat imread = cv::imread(folder / name, cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(imread.empty());
        cv::Mat expected;
        cv::cvtColor(imread, expected, imread.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
        const std::optional<sources::SourceFrame> frame = source->next();
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->image->mat().size(), expected.size());
        EXPECT_EQ(cv::norm(frame->image->mat(), expected, cv::NORM_INF), 0.0);
    }
    EXPECT_FALSE(source->next());
}

TEST(SourceOpenerTest, ALoopedFolderPlaysAgainItsClockRunningOnOneFrameLater) {
    TempDir folder;
    cv::imwrite(folder / "a.png", numbered(1));
    cv::imwrite(folder / "b.png", numbered(2));
    truncatedPng(folder, "c.png");
    std::string error;
    std::ostringstream notes;
    std::unique_ptr<sources::FrameSource> looped = sources::openLoopingSource(folder.path().string(), error, notes);
    ASSERT_TRUE(looped) << error;
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        times.push_back(looped->next().value().timestamp);
    }
    EXPECT_EQ(notes.str(), "tovak: пропущен файл, который не читается как картинка: c.png\n") << "told once";
    for (std::size_t i = 0; i < times.size(); ++i) {
        EXPECT_NEAR(times[i], static_cast<double>(i) / 30.0, 1e-9) << i;
    }
    EXPECT_EQ(sources::openLoopingSource(folder / "missing", error), nullptr);
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;
}

TEST(FileSourceTest, AVideoPlaysAtItsOwnFrameRate) {
    TempDir folder;
    const std::string path = folder / "clip.avi";
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
    const auto frames = play(*source);
    ASSERT_EQ(frames.size(), 10U);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NEAR(frames[i].first, 10 * (i + 1), 6);
        EXPECT_DOUBLE_EQ(frames[i].second, i / 25.0);
    }
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

// A normal start says nothing: libpng, for one, warns on standard error about colour profiles.
TEST(DemoSceneTest, FramesAreBgraAtTheMediumPresetTheSameEveryTimeAndPrintNothing) {
    std::string error;
    ::testing::internal::CaptureStderr();
    auto a = DemoScene::load(system::dataFile("demo/"), error);
    const bool rendered = a && a->render(300) != nullptr;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(rendered) << error;
    auto b = DemoScene::load(system::dataFile("demo/"), error);
    ASSERT_TRUE(b) << error;
    for (int index : {0, 300, 700, 1200}) {
        const cv::Mat first = a->render(index)->mat();
        EXPECT_EQ(first.type(), CV_8UC4);
        EXPECT_EQ(first.size(), cv::Size(640, 480));
        EXPECT_EQ(cv::norm(first, b->render(index)->mat(), cv::NORM_INF), 0.0) << index;
    }
    // Alive: the user moves between two frames a second apart.
    EXPECT_GT(cv::norm(a->render(30)->mat(), a->render(60)->mat(), cv::NORM_L1), 0.0);
    a->next();
    EXPECT_DOUBLE_EQ(a->next()->timestamp, 1.0 / 30.0);
}

TEST(DemoSceneTest, EachMissingOrUnreadablePhotographIsNamed) {
    std::string missing;
    EXPECT_EQ(DemoScene::load("/nonexistent", missing), nullptr);
    EXPECT_NE(missing.find("astronaut.png"), std::string::npos) << missing;
    const std::vector<std::string> photos{"astronaut.png", "grace_hopper.jpg", "motorcycle_left.png"};
    for (const std::string& broken : photos) {
        SCOPED_TRACE(broken);
        TempDir folder("tovak-photos");
        for (const std::string& photo : photos) {
            fs::copy_file(system::dataFile("demo/" + photo), folder / photo);
        }
        std::ofstream(folder / broken, std::ios::trunc) << "not a picture";
        std::string error;
        EXPECT_EQ(DemoScene::load(folder.path(), error), nullptr);
        EXPECT_NE(error.find(broken), std::string::npos) << error;
    }
}

// The demo's photographs, read without imgcodecs, have imread's very pixels; a file cut short or
// one that is no picture is refused with the reason rather than painted grey.
TEST(PhotoFileTest, ImreadsPixelsAndNoneFromATruncatedFileOrANonImage) {
    TempDir folder("tovak-photo");
    for (const std::string photo : {"astronaut.png", "grace_hopper.jpg", "motorcycle_left.png"}) {
        SCOPED_TRACE(photo);
        const std::string path = system::dataFile("demo/" + photo);
        std::string error;
        const cv::Mat ours = sources::readPhotoFile(path, error);
        const cv::Mat imread = cv::imread(path, cv::IMREAD_COLOR);
        ASSERT_EQ(ours.type(), CV_8UC3) << error;
        ASSERT_EQ(ours.size(), imread.size());
        EXPECT_EQ(cv::norm(ours, imread, cv::NORM_INF), 0.0);

        std::ifstream whole(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(whole), std::istreambuf_iterator<char>()};
        EXPECT_TRUE(sources::readPhotoFile(folder.write(photo, bytes.substr(0, bytes.size() / 2)), error).empty());
        EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    }
    std::string error;
    EXPECT_TRUE(sources::readPhotoFile(folder.write("notes.png", "not a picture"), error).empty());
    EXPECT_NE(error.find("not a PNG or JPEG photograph"), std::string::npos) << error;
}

TEST(SourceCameraSessionTest, DeliversOnlyWhileRunningWithInputAndOutput) {
    TempDir folder("tovak-one");
    cv::imwrite(folder / "one.png", numbered(1));
    std::string error;
    sources::SourceCameraSession session(FileSource::open(folder.path().string(), error));
    runtime::ManualSerialQueue queue;
    struct Sink final : monitor::SampleBufferDelegate {
        int frames = 0;
        void captureOutput(imaging::PixelBufferPtr, const monitor::CaptureConnection&) override { ++frames; }
    };
    auto sink = std::make_shared<Sink>();
    session.setSampleBufferDelegate(sink, unowned<runtime::TaskQueue>(queue));
    const auto device = session.defaultVideoDevice();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->localizedName, folder.path().filename().string());
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
