// Writes the noisy recordings the change test is checked and measured on, as folders of JPEG
// pictures that `tovak --camera FOLDER` plays at 30 frames a second. Made from the demo scene's
// frames and the shipped photographs, with a webcam's grain (a different draw in every frame), light
// that changes, and a far onlooker pasted in:
//
//     make_noisy_recordings OUT_DIR [DEMO_PHOTO_DIR]
//
// reading    a person at the desk, moving a little (5 s, grain of 4 levels: normal, sigma)
// empty-room nobody, the light falling slowly, then an exposure step (11 s, grain of 6); the demo's
//            shelves hold a patch the network scores near its threshold, and the grain moves it across
// quiet-room nobody, the light falling slowly, then an exposure step, in the garage's other corner
//            where nothing looks like a face (11 s, grain of 4)
// far-onlooker  the person, and a face of about 40 px stepping in slowly from the right (6 s, grain 3)
// dark-onlooker  the same face stepping in from the left in a dark room (light at a quarter, grain 7)
// visitor    the person leaves, the desk stays empty, then a stranger sits down, the light falling
//            (19 s, grain 2: at 3 the shelves give a face on single frames, and away mode never comes)
// demo       the whole demo scene (46 s, grain 2)
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "sources/DemoScene.h"
#include "sources/PhotoFile.h"
#include "system/DataDirectory.h"

namespace {

using tovak::sources::DemoScene;

// The far onlooker: Grace Hopper's head from the photograph, its face about `width` px wide,
// with a soft oval edge; BGR and the mask as float.
struct Patch {
    cv::Mat bgr;
    cv::Mat alpha;
};

Patch farFace(const cv::Mat& hopper, int width) {
    const cv::Rect head(265 - 120, 235 - 150, 240, 300);
    const double scale = width / 170.0;
    Patch patch;
    cv::resize(hopper(head & cv::Rect(0, 0, hopper.cols, hopper.rows)), patch.bgr, cv::Size(), scale, scale,
               cv::INTER_AREA);
    cv::Mat mask(patch.bgr.size(), CV_32F, cv::Scalar(0));
    cv::ellipse(mask, cv::Point(patch.bgr.cols / 2, patch.bgr.rows / 2),
                cv::Size(patch.bgr.cols * 2 / 5, patch.bgr.rows * 9 / 20), 0, 0, 360, cv::Scalar(1), cv::FILLED);
    cv::GaussianBlur(mask, patch.alpha, cv::Size(0, 0), 2.0);
    return patch;
}

void paste(cv::Mat& frame, const Patch& patch, int left, int top) {
    for (int y = 0; y < patch.bgr.rows; ++y) {
        for (int x = 0; x < patch.bgr.cols; ++x) {
            const int fx = left + x, fy = top + y;
            if (fx < 0 || fy < 0 || fx >= frame.cols || fy >= frame.rows) {
                continue;
            }
            const float a = patch.alpha.at<float>(y, x);
            auto& dst = frame.at<cv::Vec4b>(fy, fx);
            const auto& src = patch.bgr.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) {
                dst[c] = cv::saturate_cast<uchar>(a * src[c] + (1 - a) * dst[c]);
            }
        }
    }
}

// Raised whenever a recording is drawn differently: folders made by another edition are made again.
constexpr int kEdition = 2;

// Frame i of a recording: the demo frame it shows, then what is done to it before the grain.
struct Recording {
    const char* name;
    int firstDemoFrame;
    int frames;
    double grain;
    std::function<void(cv::Mat&, int)> change;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_noisy_recordings OUT_DIR [DEMO_PHOTO_DIR]\n");
        return 1;
    }
    const std::string photos = argc > 2 ? argv[2] : tovak::system::dataFile("demo");
    std::string error;
    auto scene = DemoScene::load(photos, error);
    const cv::Mat hopper = tovak::sources::readPhotoFile(photos + "/grace_hopper.jpg", error);
    const cv::Mat garage = tovak::sources::readPhotoFile(photos + "/motorcycle_left.png", error);
    if (!scene || hopper.empty() || garage.empty()) {
        std::fprintf(stderr, "make_noisy_recordings: %s\n", error.c_str());
        return 2;
    }
    const Patch far = farFace(hopper, 40);
    // The bench, the door and the wooden wall left of the motorcycle, a little out of focus.
    cv::Mat corner;
    cv::resize(garage(cv::Rect(0, 0, 330, 248)), corner, cv::Size(DemoScene::width, DemoScene::height), 0, 0,
               cv::INTER_LINEAR);
    cv::GaussianBlur(corner, corner, cv::Size(0, 0), 1.2);
    cv::cvtColor(corner, corner, cv::COLOR_BGR2BGRA);
    const auto light = [](cv::Mat& frame, double gain) { frame.convertTo(frame, -1, gain, 0); };
    const Recording recordings[] = {
        {"reading", 30, 150, 4.0, [](cv::Mat&, int) {}},
        {"empty-room", 22 * 30, 330, 6.0,
         [&](cv::Mat& frame, int i) { light(frame, 1.0 - 0.15 * i / 330.0 + (i >= 240 ? 0.12 : 0.0)); }},
        {"quiet-room", 0, 330, 4.0,
         [&](cv::Mat& frame, int i) {
             corner.copyTo(frame);
             light(frame, 1.0 - 0.15 * i / 330.0 + (i >= 240 ? 0.12 : 0.0));
         }},
        {"far-onlooker", 60, 180, 3.0, [&](cv::Mat& frame, int i) { paste(frame, far, 640 - i / 3, 150); }},
        {"visitor", 21 * 30, 570, 2.0, [&](cv::Mat& frame, int i) { light(frame, 1.0 - 0.1 * i / 570.0); }},
        {"dark-onlooker", 30, 300, 7.0,
         [&](cv::Mat& frame, int i) {
             paste(frame, far, -40 + i / 4, 60);
             light(frame, 0.25);
         }},
        {"demo", 0, DemoScene::frameCount(), 2.0, [](cv::Mat&, int) {}},
    };
    const std::vector<int> jpeg = {cv::IMWRITE_JPEG_QUALITY, 92};
    for (const Recording& recording : recordings) {
        const std::filesystem::path folder = std::filesystem::path(argv[1]) / recording.name;
        // Written before, and the same every time, unless the recipe changed since.
        char recipe[128];
        std::snprintf(recipe, sizeof recipe, "edition %d, demo frame %d, %d frames, grain %.1f\n", kEdition,
                      recording.firstDemoFrame, recording.frames, recording.grain);
        if (std::ifstream made(folder / "made"); made) {
            std::string line;
            std::getline(made, line);
            if (line + "\n" == recipe) {
                continue;
            }
        }
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        cv::RNG rng(static_cast<std::uint64_t>(recording.frames) * 7919U + 17U);
        cv::Mat noise(DemoScene::height, DemoScene::width, CV_16SC1);
        cv::Mat bgr;
        for (int i = 0; i < recording.frames; ++i) {
            char file[32];
            std::snprintf(file, sizeof file, "%05d.jpg", i);
            cv::Mat frame = scene->render(recording.firstDemoFrame + i)->mat().clone();
            recording.change(frame, i);
            cv::cvtColor(frame, bgr, cv::COLOR_BGRA2BGR);
            // Grain: the same draw on the three colours of a pixel, as a sensor's luminance noise.
            rng.fill(noise, cv::RNG::NORMAL, 0, recording.grain);
            cv::Mat grain;
            cv::merge(std::vector<cv::Mat>{noise, noise, noise}, grain);
            cv::Mat wide;
            bgr.convertTo(wide, CV_16SC3);
            cv::add(wide, grain, wide);
            wide.convertTo(bgr, CV_8UC3);
            if (!cv::imwrite((folder / file).string(), bgr, jpeg)) {
                std::fprintf(stderr, "make_noisy_recordings: cannot write %s\n", (folder / file).c_str());
                return 3;
            }
        }
        std::ofstream(folder / "made") << recipe;
        std::printf("%s: %d frames\n", folder.c_str(), recording.frames);
    }
    return 0;
}
