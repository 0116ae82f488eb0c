// Face detection on the demo scene at 640 x 480: BlazeFace on oneDNN and on OpenCV DNN (both
// models) and OpenCV's Haar frontal-face cascade on the same frames, as median and 95th percentile
// milliseconds per frame and as agreement of the face count with the scene's script; then the
// whole headless replay on each backend in frames per second; and what the demo camera spends
// drawing a frame.
//
//   bench_detector [--step N] [--no-replay]
//
// --step N measures every Nth frame of the scene (default 1: all 1380).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/HeadlessRunner.h"
#include "app/ScreenLockerFactory.h"
#include "facedetect/BlazeFaceDetector.h"
#include "monitor/PrivacyMonitor.h"
#include "sources/DemoScene.h"
#include "system/DataDirectory.h"

using tovak::facedetect::BlazeFaceDetector;
using tovak::sources::DemoScene;

namespace {

struct Result {
    std::string name;
    double medianMs = 0;
    double p95Ms = 0;
    double cpuMs = 0;
    double agreement = 0;
    std::size_t frames = 0;
};

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// CPU time of every thread of the process: what a frame costs the machine, whatever else runs.
double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Times one detector over the frames; count gives the faces it found in one frame, after the
// engine's size filter.
Result measure(const std::string& name, const std::vector<tovak::imaging::PixelBufferPtr>& frames,
               const std::vector<int>& indices, const std::function<std::size_t(const cv::Mat&)>& count) {
    // Warm-up, so that the first run's allocations are not counted.
    for (int i = 0; i < 5; ++i) {
        count(frames[static_cast<std::size_t>(i) % frames.size()]->mat());
    }
    std::vector<double> times;
    std::vector<double> cpu;
    std::size_t agree = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const double cpuStart = processCpuMs();
        const auto start = std::chrono::steady_clock::now();
        const std::size_t n = count(frames[i]->mat());
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        cpu.push_back(processCpuMs() - cpuStart);
        if (n == DemoScene::scriptedFaceCount(indices[i])) {
            ++agree;
        }
    }
    return Result{name,
                  percentile(times, 0.5),
                  percentile(times, 0.95),
                  percentile(cpu, 0.5),
                  100.0 * static_cast<double>(agree) / static_cast<double>(frames.size()),
                  frames.size()};
}

std::size_t keptFaces(const std::vector<tovak::monitor::FaceObservation>& faces) {
    return static_cast<std::size_t>(std::count_if(faces.begin(), faces.end(), [](const auto& face) {
        return face.boundingBox.area() >= tovak::monitor::PrivacyMonitor::minFaceNormalizedArea;
    }));
}

}  // namespace

int main(int argc, char** argv) {
    int step = 1;
    bool replay = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--step") == 0 && i + 1 < argc) {
            step = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--no-replay") == 0) {
            replay = false;
        } else {
            std::fprintf(stderr, "usage: bench_detector [--step N] [--no-replay]\n");
            return 1;
        }
    }
    std::string error;
    auto scene = DemoScene::load(tovak::system::dataFile("demo"), error);
    if (!scene) {
        std::fprintf(stderr, "bench_detector: %s (run scripts/setup)\n", error.c_str());
        return 1;
    }
    std::vector<tovak::imaging::PixelBufferPtr> frames;
    std::vector<int> indices;
    // The demo camera's own cost, part of what a live demo run spends: each frame let go before
    // the next is drawn, as in a run.
    std::vector<double> renderMs;
    for (int i = 0; i < DemoScene::frameCount(); i += step) {
        const double cpuStart = processCpuMs();
        scene->render(i).reset();
        renderMs.push_back(processCpuMs() - cpuStart);
    }
    for (int i = 0; i < DemoScene::frameCount(); i += step) {
        frames.push_back(scene->render(i));
        indices.push_back(i);
    }

    using Backend = BlazeFaceDetector::Backend;
    using Model = BlazeFaceDetector::Model;
    struct Run {
        const char* name;
        Model model;
        Backend backend;
    };
    const Run runs[] = {
        {"full-range 256, oneDNN", Model::fullRange, Backend::onednn},
        {"full-range 256, OpenCV DNN", Model::fullRange, Backend::opencv},
        {"short-range 128, oneDNN", Model::shortRange, Backend::onednn},
        {"short-range 128, OpenCV DNN", Model::shortRange, Backend::opencv},
    };
    std::vector<Result> results;
    for (const Run& run : runs) {
        BlazeFaceDetector detector(BlazeFaceDetector::installedPath(run.model), run.model,
                                   BlazeFaceDetector::defaultScoreThreshold, run.backend);
        if (!detector.isAvailable() || !detector.fallbackReason().empty()) {
            std::fprintf(stderr, "bench_detector: %s: %s%s (run scripts/setup)\n", run.name,
                         detector.loadError().c_str(), detector.fallbackReason().c_str());
            return 1;
        }
        results.push_back(measure(run.name, frames, indices, [&](const cv::Mat& frame) {
            return keptFaces(detector.detectUpright(frame).value());
        }));
    }

    const std::string cascadePath = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
    cv::CascadeClassifier cascade;
    if (!cascade.load(cascadePath)) {
        std::fprintf(stderr, "bench_detector: %s is missing (package opencv-data)\n", cascadePath.c_str());
        return 1;
    }
    cv::Mat gray;
    std::vector<cv::Rect> found;
    results.push_back(measure("Haar frontal face (1.1, 5)", frames, indices, [&](const cv::Mat& frame) {
        cv::cvtColor(frame, gray, cv::COLOR_BGRA2GRAY);
        cascade.detectMultiScale(gray, found, 1.1, 5);
        const double frameArea = static_cast<double>(frame.cols) * frame.rows;
        return static_cast<std::size_t>(std::count_if(found.begin(), found.end(), [&](const cv::Rect& r) {
            return r.area() / frameArea >= tovak::monitor::PrivacyMonitor::minFaceNormalizedArea;
        }));
    }));

    std::printf("Demo scene, %zu frames of 640 x 480 (every %d); oneDNN 1 thread, OpenCV threads: %d\n\n",
                frames.size(), step, cv::getNumThreads());
    std::printf("%-28s %10s %10s %12s %22s\n", "detector", "median ms", "p95 ms", "CPU ms (med)",
                "frames with script's count");
    for (const Result& r : results) {
        std::printf("%-28s %10.2f %10.2f %12.2f %21.1f%%\n", r.name.c_str(), r.medianMs, r.p95Ms, r.cpuMs, r.agreement);
    }
    std::printf("\nDemo camera, one frame drawn: median %.2f ms, p95 %.2f ms of CPU\n", percentile(renderMs, 0.5),
                percentile(renderMs, 0.95));
    const Result& haar = results.back();
    std::printf("\nfull-range: OpenCV DNN / oneDNN median %.2fx; Haar / oneDNN %.1fx; Haar / OpenCV DNN %.1fx\n",
                results[1].medianMs / results[0].medianMs, haar.medianMs / results[0].medianMs,
                haar.medianMs / results[1].medianMs);
    std::printf("full-range oneDNN p95 / median: %.2f; CPU per frame, OpenCV DNN / oneDNN: %.2fx\n",
                results[0].p95Ms / results[0].medianMs, results[1].cpuMs / results[0].cpuMs);

    for (const auto backend : {tovak::app::DetectorBackend::onednn, tovak::app::DetectorBackend::opencv}) {
        if (!replay) {
            break;
        }
        std::ostringstream out;
        std::ostringstream err;
        tovak::app::HeadlessEnvironment env{out, err, tovak::app::makeScreenLocker};
        tovak::app::Options options;
        options.headless = true;
        options.camera = "demo";
        options.lockDryRun = true;
        options.detector = backend;
        const auto start = std::chrono::steady_clock::now();
        const int status = tovak::app::runHeadless(options, env);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0) {
            std::fprintf(stderr, "bench_detector: replay failed: %s\n", err.str().c_str());
            return 1;
        }
        std::printf("\nHeadless demo replay, %s: %d frames in %.1f s = %.1f frames/s (%.1fx real time)",
                    backend == tovak::app::DetectorBackend::onednn ? "oneDNN" : "OpenCV DNN", DemoScene::frameCount(),
                    seconds, DemoScene::frameCount() / seconds, DemoScene::sceneEnds / seconds);
    }
    std::printf("\n");
    return 0;
}
