#include "platform/demo/DemoScene.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace tovak::platform {

namespace {

// Where the heads are in the photographs (pixels of the 512 x 512 originals).
const cv::Rect kAstronautHead(120, 20, 210, 270);
const cv::Rect kCameramanHead(140, 60, 180, 240);

// Sizes chosen so that the user's face is about 150 px wide, the onlooker's about 60 px (a person
// a step or two behind), and the stranger's, sitting where the user sat, about 140 px.
constexpr double kUserScale = 1.6;
constexpr double kOnlookerScale = 0.69;
constexpr double kStrangerScale = 1.6;

double wave(double t, double period, double amplitude, double phase = 0) {
    return amplitude * std::sin(2 * std::numbers::pi * t / period + phase);
}

bool during(double t, double from, double to) {
    return t >= from && t < to;
}

}  // namespace

std::unique_ptr<DemoScene> DemoScene::load(const std::string& photoDirectory, std::string& error) {
    const auto read = [&](const char* file, int flags) {
        const std::string path = (std::filesystem::path(photoDirectory) / file).string();
        cv::Mat image = cv::imread(path, flags);
        // The first missing photograph is the one named.
        if ((image.empty() || image.cols < 512 || image.rows < 512) && error.empty()) {
            error = "demo photograph missing or unreadable: " + path;
        }
        return image;
    };
    const cv::Mat astronaut = read("astronaut.png", cv::IMREAD_COLOR);
    const cv::Mat cameraman = read("camera.png", cv::IMREAD_COLOR);
    const cv::Mat brick = read("brick.png", cv::IMREAD_COLOR);
    if (!error.empty()) {
        return nullptr;
    }
    std::unique_ptr<DemoScene> scene(new DemoScene());
    // A warm, dim wall behind the desk.
    cv::Mat wall;
    cv::resize(brick, wall, cv::Size(width, width), 0, 0, cv::INTER_AREA);
    wall = wall(cv::Rect(0, (width - height) / 2, width, height)).clone();
    wall.convertTo(wall, CV_32FC3);
    cv::multiply(wall, cv::Scalar(0.62, 0.72, 0.85), wall);
    wall.convertTo(wall, CV_8UC3);
    cv::cvtColor(wall, scene->wall_, cv::COLOR_BGR2BGRA);
    scene->user_ = cutHead(astronaut, kAstronautHead);
    scene->onlooker_ = cutHead(cameraman, kCameramanHead);
    scene->stranger_ = scene->onlooker_;
    return scene;
}

DemoScene::Sprite DemoScene::cutHead(const cv::Mat& photo, const cv::Rect& region) {
    Sprite sprite;
    sprite.bgr = photo(region).clone();
    // An oval with a soft edge, so the cut-out has no hard border for the detector to latch on.
    cv::Mat mask(region.size(), CV_32F, cv::Scalar(0));
    cv::ellipse(mask, cv::Point(region.width / 2, region.height / 2),
                cv::Size(region.width / 2 - 8, region.height / 2 - 8), 0, 0, 360, cv::Scalar(1), cv::FILLED);
    cv::GaussianBlur(mask, sprite.alpha, cv::Size(0, 0), 6);
    return sprite;
}

int DemoScene::frameCount() {
    return static_cast<int>(std::lround(sceneEnds * fps));
}

std::vector<DemoScene::Person> DemoScene::peopleAt(int frameIndex) {
    const double t = frameIndex / fps;
    std::vector<Person> people;
    if (t < userLeaves) {
        people.push_back(Person::user);
    }
    if (during(t, onlookerArrives, onlookerLeaves)) {
        people.push_back(Person::onlooker);
    }
    if (during(t, strangerArrives, sceneEnds)) {
        people.push_back(Person::stranger);
    }
    return people;
}

void DemoScene::paste(cv::Mat& frame, const Sprite& sprite, double centreX, double centreY, double scale) const {
    const cv::Size size(static_cast<int>(std::lround(sprite.bgr.cols * scale)),
                        static_cast<int>(std::lround(sprite.bgr.rows * scale)));
    cv::Mat bgr;
    cv::Mat alpha;
    cv::resize(sprite.bgr, bgr, size, 0, 0, cv::INTER_LINEAR);
    cv::resize(sprite.alpha, alpha, size, 0, 0, cv::INTER_LINEAR);
    const cv::Rect placed(static_cast<int>(std::lround(centreX - size.width / 2.0)),
                          static_cast<int>(std::lround(centreY - size.height / 2.0)), size.width, size.height);
    const cv::Rect visible = placed & cv::Rect(0, 0, frame.cols, frame.rows);
    for (int y = visible.y; y < visible.y + visible.height; ++y) {
        auto* out = frame.ptr<cv::Vec4b>(y);
        const auto* in = bgr.ptr<cv::Vec3b>(y - placed.y);
        const auto* a = alpha.ptr<float>(y - placed.y);
        for (int x = visible.x; x < visible.x + visible.width; ++x) {
            const int sx = x - placed.x;
            const float w = a[sx];
            for (int c = 0; c < 3; ++c) {
                out[x][c] = cv::saturate_cast<uchar>(w * in[sx][c] + (1.0F - w) * out[x][c]);
            }
        }
    }
}

imaging::PixelBufferPtr DemoScene::render(int frameIndex) const {
    const double t = frameIndex / fps;
    cv::Mat frame = wall_.clone();
    for (Person person : peopleAt(frameIndex)) {
        // The onlooker stands behind, so it is drawn first.
        if (person == Person::onlooker) {
            paste(frame, onlooker_, 505 + wave(t, 4.0, 10), 140 + wave(t, 3.1, 4),
                  kOnlookerScale * (1 + wave(t, 6.0, 0.05)));
        }
    }
    for (Person person : peopleAt(frameIndex)) {
        if (person == Person::user) {
            paste(frame, user_, 300 + wave(t, 5.0, 8), 262 + wave(t, 3.3, 4), kUserScale * (1 + wave(t, 7.0, 0.03)));
        } else if (person == Person::stranger) {
            // Sits down during the first half second, then settles.
            const double settle = std::min(1.0, (t - strangerArrives) / 0.5);
            paste(frame, stranger_, 330 + wave(t, 4.5, 7, 1.0), 300 - 30 * settle + wave(t, 3.7, 3),
                  kStrangerScale * (1 + wave(t, 6.5, 0.03)));
        }
    }
    return std::make_shared<const imaging::PixelBuffer>(std::move(frame));
}

std::optional<SourceFrame> DemoScene::next() {
    if (nextFrame_ >= frameCount()) {
        return std::nullopt;
    }
    const int index = nextFrame_++;
    return SourceFrame{render(index), index / fps};
}

}  // namespace tovak::platform
