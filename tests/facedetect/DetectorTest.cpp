#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <tuple>

#include "facedetect/BlazeFaceDetector.h"
#include "facedetect/LetterboxSampler.h"
#include "facedetect/OneDnnBackend.h"
#include "facedetect/onednn/ImplementationCache.h"
#include "imaging/Orientation.h"
#include "runtime/Simulation.h"
#include "sources/DemoScene.h"
#include "support/MonitorHarness.h"
#include "support/TempDir.h"
#include "system/DataDirectory.h"

namespace tovak::testing {
namespace {

using facedetect::BlazeFaceDetector;
using imaging::Orientation;
using monitor::FaceObservation;

// The astronaut's face in astronaut.png, in pixels with the origin at the top left, as a person
// would outline it: forehead to chin, ear to ear.
const cv::Rect2d kAstronautFace(180, 85, 90, 95);

cv::Rect2d toPixelsTopLeft(const imaging::Rect& box, const cv::Size& size) {
    return {box.x * size.width, (1.0 - box.maxY()) * size.height, box.width * size.width, box.height * size.height};
}

// The photographs and the model as scripts/setup and the build lay them out; missing ones fail the test.
cv::Mat loadDemoPhoto(const std::string& name) {
    cv::Mat image = cv::imread(system::dataFile("demo/" + name), cv::IMREAD_COLOR);
    EXPECT_FALSE(image.empty()) << name << " is missing: run scripts/setup";
    return image;
}

std::string fullRangeModel() {
    return BlazeFaceDetector::installedPath(BlazeFaceDetector::Model::fullRange);
}

// A frame of the demo scene, seconds into it.
imaging::PixelBufferPtr demoFrame(double seconds) {
    std::string error;
    static const auto scene = sources::DemoScene::load(system::dataFile("demo/"), error);
    EXPECT_TRUE(scene) << error;
    return scene ? scene->render(static_cast<int>(seconds * sources::DemoScene::fps)) : nullptr;
}

class DetectorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        detector_ = std::make_unique<BlazeFaceDetector>(fullRangeModel(), BlazeFaceDetector::Model::fullRange);
    }
    void SetUp() override { ASSERT_TRUE(detector_->isAvailable()) << detector_->loadError(); }

    static std::vector<FaceObservation> detect(const cv::Mat& bgr, Orientation orientation = Orientation::up) {
        std::optional<std::vector<FaceObservation>> faces =
            detector_->makeHandler(imaging::PixelBuffer::fromBgr(bgr), orientation)->performFaceRectangles();
        EXPECT_TRUE(faces.has_value());
        return faces.value_or(std::vector<FaceObservation>{});
    }

    static inline std::unique_ptr<BlazeFaceDetector> detector_;
};

TEST_F(DetectorTest, FindsTheFaceWhereItIsWithAnUndistortedBoxOfTheRightSize) {
    const cv::Mat photo = loadDemoPhoto("astronaut.png");
    // The photograph on a wide black canvas too: letterboxing must keep the box from being squashed.
    cv::Mat wide(photo.rows, photo.cols * 2, CV_8UC3, cv::Scalar::all(0));
    photo.copyTo(wide(cv::Rect(photo.cols, 0, photo.cols, photo.rows)));
    const std::tuple<const char*, cv::Mat, cv::Rect2d, double> rows[] = {
        {"photograph", photo, kAstronautFace, 0.6},
        {"wide canvas", wide, kAstronautFace + cv::Point2d(photo.cols, 0), 0.5}};
    for (const auto& [name, image, face, overlap] : rows) {
        SCOPED_TRACE(name);
        const std::vector<FaceObservation> faces = detect(image);
        ASSERT_EQ(faces.size(), 1U);
        const cv::Rect2d found = toPixelsTopLeft(faces[0].boundingBox, image.size());
        EXPECT_GT((found & face).area() / (found | face).area(), overlap) << found;
        EXPECT_NEAR(found.width, kAstronautFace.width, 0.2 * kAstronautFace.width);
        EXPECT_NEAR(found.width / found.height, 1.0, 0.25);
        EXPECT_GE(faces[0].confidence, BlazeFaceDetector::defaultScoreThreshold);
    }
}

TEST_F(DetectorTest, EveryOrientationGivesTheSameUprightBox) {
    // Not square, so that a swapped width and height would show.
    const cv::Mat upright = loadDemoPhoto("astronaut.png")(cv::Rect(0, 0, 512, 400)).clone();
    const std::vector<FaceObservation> reference = detect(upright);
    ASSERT_EQ(reference.size(), 1U);
    for (int o = 1; o <= 8; ++o) {
        const auto orientation = static_cast<Orientation>(o);
        // The raw frame that reads upright under the orientation: the quarter turns are each other's inverse.
        cv::Mat raw;
        imaging::applyOrientation(upright, raw,
                                  orientation == Orientation::right  ? Orientation::left
                                  : orientation == Orientation::left ? Orientation::right
                                                                     : orientation);
        const std::vector<FaceObservation> faces = detect(raw, orientation);
        ASSERT_EQ(faces.size(), 1U) << "orientation " << o;
        const imaging::Rect& a = faces[0].boundingBox;
        const imaging::Rect& b = reference[0].boundingBox;
        EXPECT_NEAR(a.x, b.x, 0.02) << "orientation " << o;
        EXPECT_NEAR(a.y, b.y, 0.02) << "orientation " << o;
        EXPECT_NEAR(a.width, b.width, 0.02) << "orientation " << o;
        EXPECT_NEAR(a.height, b.height, 0.02) << "orientation " << o;
    }
}

TEST_F(DetectorTest, LandmarkPassKeepsTheFacesAndAddsKeypointsInsideThem) {
    const cv::Mat photo = loadDemoPhoto("astronaut.png");
    auto handler = detector_->makeHandler(imaging::PixelBuffer::fromBgr(photo), Orientation::up);
    // Before detection, and on an empty frame, the passes fail rather than report an empty room.
    EXPECT_FALSE(handler->performLandmarks({}).has_value());
    EXPECT_FALSE(detector_->makeHandler(nullptr, Orientation::up)->performFaceRectangles().has_value());
    const std::vector<FaceObservation> rectangles = handler->performFaceRectangles().value();
    ASSERT_EQ(rectangles.size(), 1U);
    EXPECT_TRUE(rectangles[0].landmarks.empty());

    // A face the caller knows of but this frame's pass did not find stays, untouched.
    FaceObservation stranger;
    stranger.boundingBox = {0.01, 0.01, 0.1, 0.1};
    const std::vector<FaceObservation> refined = handler->performLandmarks({rectangles[0], stranger}).value();
    ASSERT_EQ(refined.size(), 2U);
    EXPECT_EQ(refined[0].boundingBox, rectangles[0].boundingBox);
    ASSERT_EQ(refined[0].landmarks.size(), 6U);
    const imaging::Rect& box = refined[0].boundingBox;
    for (const monitor::Point& p : refined[0].landmarks) {
        EXPECT_GE(p.x, box.x - 0.05 * box.width);
        EXPECT_LE(p.x, box.maxX() + 0.05 * box.width);
        EXPECT_GE(p.y, box.y);
        EXPECT_LE(p.y, box.maxY());
    }
    // The eyes (keypoints 0 and 1) lie above the mouth (keypoint 3): y grows upwards.
    EXPECT_GT(refined[0].landmarks[0].y, refined[0].landmarks[3].y);
    EXPECT_GT(refined[0].landmarks[1].y, refined[0].landmarks[3].y);
    EXPECT_EQ(refined[1].boundingBox, stranger.boundingBox);
    EXPECT_TRUE(refined[1].landmarks.empty());
}

// The full-range model with one byte string replaced (or cut in half), in a temporary file.
std::string editedModel(const std::string& name, const std::string& from, const std::string& to) {
    std::ifstream in(fullRangeModel(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (from.empty()) {
        bytes.resize(bytes.size() / 2);
    } else {
        bytes.replace(bytes.find(from), from.size(), to);  // throws, failing the test, when not found
    }
    const auto path = std::filesystem::temp_directory_path() / ("tovak-" + name + ".onnx");
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// A frame whose faces are reused must count the faces the network would find in it, frame by frame:
// every rule counts them. Where a poster's score wanders across the threshold with the grain, that
// means detecting nearly every frame; without grain, and with a steady face, most are reused.
TEST(DetectorChangeTest, AReusedFrameHasTheFacesTheNetworkWouldFindInIt) {
    BlazeFaceDetector reusing(fullRangeModel(), BlazeFaceDetector::Model::fullRange);
    BlazeFaceDetector everyFrame(fullRangeModel(), BlazeFaceDetector::Model::fullRange);
    ASSERT_TRUE(reusing.isAvailable()) << reusing.loadError();
    const struct Row {
        const char* name;
        double from;
        double grain;
        double mostDetected;
    } rows[] = {
        {"the empty room, grain of 6: a poster near the threshold", 22, 6, 1.0},
        {"the empty room without grain", 22, 0, 0.4},
        {"an onlooker behind the user, grain of 3", 9, 3, 1.0},
        {"the user alone without grain", 1, 0, 0.5},
    };
    cv::RNG rng(11);
    cv::Mat noise(480, 640, CV_16SC1), grainy;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto clock = std::make_shared<runtime::ManualClock>();
        reusing.useChangeTest(clock);
        int mismatches = 0;
        constexpr int frames = 120;
        for (int i = 0; i < frames; ++i) {
            const imaging::PixelBufferPtr clean = demoFrame(row.from + i / 30.0);
            ASSERT_TRUE(clean);
            cv::Mat frame = clean->mat();
            if (row.grain > 0) {
                rng.fill(noise, cv::RNG::NORMAL, 0, row.grain);
                cv::Mat channels[] = {noise, noise, noise, cv::Mat::zeros(noise.size(), CV_16SC1)};
                cv::Mat wide, grain;
                cv::merge(channels, 4, grain);
                frame.convertTo(wide, CV_16SC4);
                cv::add(wide, grain, wide);
                wide.convertTo(grainy, CV_8UC4);
                frame = grainy;
            }
            clock->set(1000 + i / 30.0);
            const auto reused = reusing.detectFrame(frame, Orientation::up);
            const auto truth = everyFrame.detectFrame(frame, Orientation::up);
            ASSERT_TRUE(reused && truth);
            mismatches += reused->size() != truth->size() ? 1 : 0;
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(reusing.framesSeen(), frames);
        EXPECT_LE(reusing.framesDetected(), row.mostDetected * frames);
    }
}

TEST(DetectorModelTest, OneDnnRefusesWhatItCannotBuildByNameAndOpenCvTakesOver) {
    // Which change, the bytes before and after, the name the refusal gives. An ONNX node's op_type is field 4 (0x22)
    // and an attribute's name field 1 (0x0a). OpenCV DNN runs both, so the user still gets a detector.
    const std::tuple<const char*, std::string, std::string, const char*> rows[] = {
        {"an operator", std::string("\x22\x04Relu"), std::string("\x22\x04Tanh"), "Tanh"},
        {"an attribute", std::string("\x0a\x05group"), std::string("\x0a\x05grupo"), "grupo"},
    };
    for (const auto& [name, from, to, named] : rows) {
        SCOPED_TRACE(name);
        const std::string path = editedModel("refused", from, to);
        std::string error;
        EXPECT_FALSE(facedetect::OneDnnBackend::load(path, 256, {}, error));
        EXPECT_NE(error.find(named), std::string::npos) << error;
        BlazeFaceDetector detector(path, BlazeFaceDetector::Model::fullRange);
        EXPECT_NE(detector.fallbackReason().find(named), std::string::npos) << detector.fallbackReason();
        EXPECT_EQ(detector.backendName(), "opencv") << detector.loadError();
        std::filesystem::remove(path);
    }
}

TEST(DetectorModelTest, ABrokenModelIsNoDetectorOnEitherEngineAndStartSaysSo) {
    const auto notANetwork = std::filesystem::temp_directory_path() / "tovak-corrupt-model.onnx";
    std::ofstream(notANetwork, std::ios::binary) << "this is not a network";
    const std::string truncated = editedModel("truncated", "", "");
    const std::pair<const char*, std::string> rows[] = {
        {"missing", "/nonexistent/face.onnx"},
        {"not a network", notANetwork.string()},
        {"cut in half", truncated},
        // The short-range network under the full-range input size cannot be mistaken for it.
        {"the other model", BlazeFaceDetector::installedPath(BlazeFaceDetector::Model::shortRange)},
    };
    for (const auto& [name, path] : rows) {
        for (const auto backend : {BlazeFaceDetector::Backend::onednn, BlazeFaceDetector::Backend::opencv}) {
            SCOPED_TRACE(std::string(name) + (backend == BlazeFaceDetector::Backend::onednn ? ", oneDNN" : ""));
            auto detector = std::make_shared<BlazeFaceDetector>(path, BlazeFaceDetector::Model::fullRange,
                                                                BlazeFaceDetector::defaultScoreThreshold, backend);
            EXPECT_FALSE(detector->isAvailable());
            EXPECT_FALSE(detector->loadError().empty());
            EXPECT_FALSE(detector->detectUpright(cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(0))).has_value());
            MonitorHarness h([&](monitor::Ports& deps) { deps.faceDetector = detector; });
            h.start();
            EXPECT_EQ(h.monitor->statusLine.get(), "Детектор лиц: ошибка");
        }
    }
    std::filesystem::remove(notANetwork);
    std::filesystem::remove(truncated);
}

// Where the CPU lacks bf16 (as oneDNN is told here), the fast path is f32, said once at start.
TEST(DetectorModelTest, WithoutBf16InstructionsTheFastPathRunsInF32AndSaysSoOnce) {
    // A fresh process, so that oneDNN reads its limit before anything else runs.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int status = 1;
            {
                // Its implementations kept apart from the user's.
                const TempDir cache("tovak-xdg");
                ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
                ::setenv("ONEDNN_MAX_CPU_ISA", "AVX512_CORE", 1);
                std::ostringstream log;
                const auto detector = BlazeFaceDetector::createInstalled(BlazeFaceDetector::Backend::onednn, log);
                const auto faces = detector->detectUpright(loadDemoPhoto("astronaut.png"));
                std::cerr << log.str();
                status = faces && faces->size() == 1 ? 0 : 1;
            }
            std::exit(status);
        },
        ::testing::ExitedWithCode(0),
        "^tovak: face detection runs in f32: bf16: the CPU has no AVX-512 bf16 instructions\n$");
}

// The implementations are timed once and kept; a damaged or stale file is timed again and
// replaced, and the network's answer never depends on what the file says.
TEST(OneDnnCacheTest, TimedOnceKeptPrivateAndADamagedOrStaleFileIsTimedAgainWithTheSameAnswer) {
    TempDir home("tovak-xdg");
    const std::string before = std::getenv("XDG_CACHE_HOME") ? std::getenv("XDG_CACHE_HOME") : "";
    ::setenv("XDG_CACHE_HOME", home.path().c_str(), 1);
    const cv::Mat photo = loadDemoPhoto("astronaut.png");
    // The short-range model, under a name of its own: fewer and smaller primitives to time.
    const std::string model = home / "face.onnx";
    std::filesystem::copy_file(BlazeFaceDetector::installedPath(BlazeFaceDetector::Model::shortRange), model);
    // The file is named after the precision the network runs in: f32 on a CPU without bf16.
    std::string ranIn;
    const auto load = [&] {
        std::string error;
        auto network =
            facedetect::OneDnnBackend::load(model, 128, {.precision = facedetect::onednn::Precision::bf16}, error);
        EXPECT_TRUE(network) << error;
        ranIn = network ? facedetect::onednn::precisionName(network->precision()) : "";
        const int timed = network ? network->timedPrimitives() : -1;
        BlazeFaceDetector detector(std::move(network), BlazeFaceDetector::Model::shortRange);
        const auto out = detector.rawOutputs(photo);
        return std::pair{timed,
                         out ? std::vector<float>(out->scoresSmall, out->scoresSmall + 512) : std::vector<float>{}};
    };
    const auto [timed, reference] = load();
    EXPECT_GT(timed, 0);
    const std::string name = "tovak/onednn-face-" + ranIn;
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(home.path() / "tovak").permissions(), perms::owner_all);
    EXPECT_EQ(std::filesystem::status(home.path() / name).permissions(), perms::owner_read | perms::owner_write);
    EXPECT_EQ(load(), std::pair(0, reference));
    const std::string good = home.read(name);
    // The key, the count, then one name a line.
    const std::size_t countAt = good.find('\n', good.find("precision:")) + 1;
    const std::size_t first = good.find('\n', countAt) + 1;
    const std::string firstName = good.substr(first, good.find('\n', first) - first);
    const std::pair<const char*, std::string> rows[] = {
        {"cut short", good.substr(0, good.size() / 2)},
        {"a name oneDNN does not offer", std::string(good).replace(first, firstName.size(), "jit:nowhere")},
        {"a reference implementation, as timing never takes",
         std::string(good).replace(first, firstName.size(), "ref:any")},
    };
    for (const auto& [row, text] : rows) {
        SCOPED_TRACE(row);
        home.write(name, text);
        const auto [again, scores] = load();
        EXPECT_GT(again, 0);
        ASSERT_EQ(scores.size(), reference.size());
        for (std::size_t i = 0; i < scores.size(); ++i) {
            ASSERT_NEAR(scores[i], reference[i], 0.02 * std::max(1.0F, std::abs(reference[i]))) << i;
        }
        EXPECT_EQ(load().first, 0);  // the file made whole again
    }
    // A FIFO there is passed over at once (not waited on) and replaced.
    std::filesystem::remove(home.path() / name);
    ASSERT_EQ(::mkfifo((home.path() / name).c_str(), 0600), 0);
    EXPECT_GT(load().first, 0);
    EXPECT_EQ(load().first, 0);
    // Another model under the same name (an update) is timed afresh, never on the old one's choices.
    namespace cache = facedetect::onednn::implementation_cache;
    const std::string shortRangeKey = cache::keyFor(model, 128, "bf16");
    std::filesystem::copy_file(fullRangeModel(), model, std::filesystem::copy_options::overwrite_existing);
    EXPECT_NE(cache::keyFor(model, 128, "bf16"), shortRangeKey) << "the key tells the content, not only the size";
    for (const bool fresh : {true, false}) {
        std::string error;
        const auto network =
            facedetect::OneDnnBackend::load(model, 256, {.precision = facedetect::onednn::Precision::bf16}, error);
        EXPECT_EQ(network ? network->timedPrimitives() > 0 : !fresh, fresh) << error;
    }
    before.empty() ? ::unsetenv("XDG_CACHE_HOME") : ::setenv("XDG_CACHE_HOME", before.c_str(), 1);
}

struct Picture {
    std::string name;
    cv::Mat picture;
    int faces;  // -1: not pinned, as many as the reference finds
};

// The photographs and demo frames the engines are held to each other on.
std::vector<Picture> realPictures() {
    return {
        {"astronaut.png", loadDemoPhoto("astronaut.png"), 1},
        {"camera.png", loadDemoPhoto("camera.png"), 1},
        {"coffee.png", loadDemoPhoto("coffee.png"), -1},
        {"brick.png", loadDemoPhoto("brick.png"), 0},
        {"a plain wall", cv::Mat(480, 640, CV_8UC3, cv::Scalar(90, 110, 130)), 0},
        {"demo at 3 s", demoFrame(3.0)->mat().clone(), 1},
        {"demo at 10 s", demoFrame(10.0)->mat().clone(), 2},
        {"demo at 10 s, cut to 16:9", demoFrame(10.0)->mat()(cv::Rect(0, 60, 640, 360)).clone(), 2},
        {"demo at 30 s, nobody", demoFrame(30.0)->mat().clone(), 0},
        {"demo at 40 s", demoFrame(40.0)->mat().clone(), 1},
    };
}

TEST(DetectorBackendsTest, OneDnnGivesOpenCvsOutputsAndFacesOnRealPictures) {
    using Backend = BlazeFaceDetector::Backend;
    BlazeFaceDetector onednn(fullRangeModel(), BlazeFaceDetector::Model::fullRange, 0.5F, Backend::onednnF32);
    BlazeFaceDetector opencv(fullRangeModel(), BlazeFaceDetector::Model::fullRange, 0.5F, Backend::opencv);
    ASSERT_EQ(onednn.backendName(), "onednn") << onednn.fallbackReason();
    ASSERT_EQ(opencv.backendName(), "opencv") << opencv.loadError();
    std::string error;
    auto built = facedetect::OneDnnBackend::load(fullRangeModel(), 256, {}, error);
    ASSERT_TRUE(built) << error;
    // Every residual Add and every Relu of the network runs inside a convolution.
    EXPECT_EQ(built->fusedAdds(), 31);
    EXPECT_EQ(built->fusedRelus(), 33);

    const std::vector<Picture> pictures = realPictures();
    for (const auto& [name, picture, count] : pictures) {
        SCOPED_TRACE(name);
        const auto a = onednn.rawOutputs(picture);
        const auto b = opencv.rawOutputs(picture);
        ASSERT_TRUE(a && b);
        const std::tuple<const float*, const float*, int> tensors[] = {{a->scoresSmall, b->scoresSmall, 512},
                                                                       {a->scoresLarge, b->scoresLarge, 384},
                                                                       {a->boxesSmall, b->boxesSmall, 512 * 16},
                                                                       {a->boxesLarge, b->boxesLarge, 384 * 16}};
        // Within 1e-3, relative where the value is larger than 1: far-off anchors score around
        // -1000, where a float holds no more than that.
        for (const auto& [x, y, size] : tensors) {
            float worst = 0;
            for (int i = 0; i < size; ++i) {
                worst = std::max(worst, std::abs(x[i] - y[i]) / std::max(1.0F, std::abs(y[i])));
            }
            EXPECT_LT(worst, 1e-3F) << "tensor of " << size;
        }
        const auto fa = onednn.detectUpright(picture).value();
        const auto fb = opencv.detectUpright(picture).value();
        ASSERT_EQ(fa.size(), fb.size());
        EXPECT_TRUE(count < 0 || fa.size() == static_cast<std::size_t>(count)) << fa.size();
        if (count == 2) {
            // The user sits in the middle; the onlooker stands behind, at the upper right, smaller.
            EXPECT_GT(fa[0].boundingBox.area(), 3 * fa[1].boundingBox.area());
            EXPECT_LT(std::abs(fa[0].boundingBox.x + fa[0].boundingBox.width / 2 - 0.47), 0.1);
            EXPECT_GT(fa[1].boundingBox.x, 0.65);
            EXPECT_GT(fa[1].boundingBox.y, 0.55);
        }
        for (std::size_t i = 0; i < fa.size(); ++i) {
            const cv::Rect2d ra = toPixelsTopLeft(fa[i].boundingBox, picture.size());
            const cv::Rect2d rb = toPixelsTopLeft(fb[i].boundingBox, picture.size());
            EXPECT_LT(std::abs(ra.x - rb.x) + std::abs(ra.y - rb.y), 1.0) << ra << " " << rb;
            EXPECT_LT(std::abs(ra.br().x - rb.br().x) + std::abs(ra.br().y - rb.br().y), 1.0) << ra << " " << rb;
        }
    }
}

// A head cut from a shipped photograph, shrunk to width pixels and put on a plain wall with its
// top left at the point given: a face far from the camera.
Picture distantFace(const std::string& photo, cv::Rect head, int width, cv::Point at, int faces) {
    cv::Mat wall(480, 640, CV_8UC3, cv::Scalar(120, 128, 136));
    cv::Mat small;
    cv::resize(loadDemoPhoto(photo)(head), small, cv::Size(width, width * head.height / head.width), 0, 0,
               cv::INTER_AREA);
    small.copyTo(wall(cv::Rect(at, small.size())));
    return {photo + ", " + std::to_string(width) + " px wide", wall, faces};
}

// bf16 rounds every activation to three digits: the fast path must still find the faces f32
// finds, the small distant ones too, whose scores lie near the threshold where a narrower type
// loses them first.
TEST(DetectorBackendsTest, TheFastPathFindsTheFacesF32FindsSmallDistantOnesToo) {
    using Backend = BlazeFaceDetector::Backend;
    BlazeFaceDetector fast(fullRangeModel(), BlazeFaceDetector::Model::fullRange, 0.5F, Backend::onednn);
    BlazeFaceDetector f32(fullRangeModel(), BlazeFaceDetector::Model::fullRange, 0.5F, Backend::onednnF32);
    ASSERT_EQ(fast.backendName(), "onednn") << fast.fallbackReason();
    std::cout << "fast path: " << (fast.precisionNote().empty() ? "bf16" : fast.precisionNote()) << "\n";
    std::vector<Picture> pictures = realPictures();
    const cv::Rect astronaut(120, 20, 210, 270), cameraman(140, 60, 180, 240), hopper(150, 60, 230, 300);
    for (Picture p : {distantFace("astronaut.png", astronaut, 24, {400, 120}, 0),  // 0.44 on f32
                      distantFace("astronaut.png", astronaut, 46, {400, 120}, 1),
                      distantFace("astronaut.png", astronaut, 48, {90, 300}, 1),
                      distantFace("camera.png", cameraman, 42, {400, 120}, 1),
                      distantFace("camera.png", cameraman, 56, {250, 40}, 1),
                      distantFace("grace_hopper.jpg", hopper, 18, {400, 120}, 1)}) {
        pictures.push_back(std::move(p));
    }
    int nearThreshold = 0;
    for (const auto& [name, picture, count] : pictures) {
        SCOPED_TRACE(name);
        const std::vector<FaceObservation> a = fast.detectUpright(picture).value();
        const std::vector<FaceObservation> b = f32.detectUpright(picture).value();
        ASSERT_EQ(a.size(), b.size());
        EXPECT_TRUE(count < 0 || b.size() == static_cast<std::size_t>(count)) << b.size();
        for (const FaceObservation& face : b) {
            const auto overlap = [&](const FaceObservation& other) {
                const cv::Rect2d x = toPixelsTopLeft(face.boundingBox, picture.size());
                const cv::Rect2d y = toPixelsTopLeft(other.boundingBox, picture.size());
                return (x & y).area() / (x | y).area();
            };
            const auto twin = std::max_element(a.begin(), a.end(),
                                               [&](const auto& x, const auto& y) { return overlap(x) < overlap(y); });
            EXPECT_GE(overlap(*twin), 0.9);
            EXPECT_NEAR(twin->confidence, face.confidence, 0.05);
            nearThreshold += face.confidence >= 0.4F && face.confidence <= 0.7F ? 1 : 0;
        }
    }
    // The small faces do probe the edge.
    EXPECT_GE(nearThreshold, 4);
}

// The network's input is what OpenCV's INTER_AREA resize, a colour conversion and a conversion to
// floats made of the picture: shrinking by a fraction, by a whole number, enlarging, every layout.
TEST(LetterboxSamplerTest, FillsTheInputAsAnAreaResizeIntoTheLetterboxWould) {
    const struct {
        int cols, rows, type, colour;
    } pictures[] = {{640, 480, CV_8UC4, cv::COLOR_BGRA2RGB},
                    {1280, 720, CV_8UC3, cv::COLOR_BGR2RGB},
                    {333, 251, CV_8UC1, cv::COLOR_GRAY2RGB},
                    {480, 640, CV_8UC4, cv::COLOR_BGRA2RGB},
                    {200, 150, CV_8UC3, cv::COLOR_BGR2RGB}};
    facedetect::LetterboxSampler sampler(256);
    std::vector<float> input(256 * 256 * 3);
    for (const auto& [cols, rows, type, colour] : pictures) {
        SCOPED_TRACE(std::to_string(cols) + " x " + std::to_string(rows));
        cv::Mat picture(rows, cols, type);
        cv::randu(picture, 0, 256);
        const facedetect::Letterbox box =
            sampler.fill(picture.ptr(), cols, rows, picture.step, picture.channels(), input.data());
        cv::Mat resized;
        cv::Mat expected(256, 256, CV_8UC3, cv::Scalar::all(0));
        cv::resize(picture, resized, cv::Size(box.width, box.height), 0, 0, cv::INTER_AREA);
        cv::Mat placed = expected(cv::Rect(box.left, box.top, box.width, box.height));
        cv::cvtColor(resized, placed, colour);
        expected.convertTo(expected, CV_32F, 1.0 / 127.5, -1.0);
        // Whole levels apart at most, where a sum falls on a half.
        EXPECT_LE(cv::norm(cv::Mat(256, 256, CV_32FC3, input.data()), expected, cv::NORM_INF), 1.01 / 127.5);
        // In bf16 the same values, each rounded to the nearest of its eight significant bits.
        std::vector<std::uint32_t> narrow(input.size());
        sampler.fill(picture.ptr(), cols, rows, picture.step, picture.channels(), narrow.data(),
                     facedetect::InputFormat::bf16);
        const auto* halves = reinterpret_cast<const std::uint16_t*>(narrow.data());
        std::size_t far = 0;
        for (std::size_t i = 0; i < input.size(); ++i) {
            const std::uint32_t bits = std::uint32_t{halves[i]} << 16;
            float value = 0;
            std::memcpy(&value, &bits, sizeof value);
            far += std::abs(value - input[i]) > std::abs(input[i]) / 256 ? 1 : 0;
        }
        EXPECT_EQ(far, 0U);
    }
}

}  // namespace
}  // namespace tovak::testing
