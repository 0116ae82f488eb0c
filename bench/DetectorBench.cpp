// Face detection on the demo scene at 640 x 480: BlazeFace on oneDNN (in f32 on oneDNN's first
// implementations, as before the timed choice; in f32 on the timed ones; on the fast path) and on
// OpenCV DNN (both models), and OpenCV's Haar frontal-face cascade on the same frames, as median
// and 95th percentile milliseconds per frame, CPU per frame and agreement of the face count with
// the scene's script; how long oneDNN's loads take, timing the implementations and from the
// cache; then the whole headless replay on each engine in frames per second; and what the demo
// camera spends drawing a frame.
//
//   bench_detector [--step N] [--no-replay] [--layers]
//
// --step N measures every Nth frame of the scene (default 1: all 1380). --layers adds each step
// of the network with its implementation and median time, f32 and the fast path side by side.
// The implementations are timed into a fresh cache folder, not the user's.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/HeadlessRunner.h"
#include "app/ScreenLockerFactory.h"
#include "facedetect/BlazeFaceDetector.h"
#include "facedetect/OneDnnBackend.h"
#include "monitor/PrivacyMonitor.h"
#include "sources/DemoScene.h"
#include "system/DataDirectory.h"

using tovak::facedetect::BlazeFaceDetector;
using tovak::facedetect::OneDnnBackend;
using tovak::facedetect::onednn::Precision;
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

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
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
        times.push_back(msSince(start));
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

// One detector to measure: the model and the engine, or for oneDNN the settings it loads with.
struct Run {
    const char* name;
    BlazeFaceDetector::Model model;
    BlazeFaceDetector::Backend backend;
    std::optional<OneDnnBackend::Settings> onednn;
};

struct Loaded {
    std::unique_ptr<BlazeFaceDetector> detector;
    OneDnnBackend* network = nullptr;  // inside the detector, when it runs on oneDNN
};

Loaded load(const Run& run, std::string& problem) {
    const std::string path = BlazeFaceDetector::installedPath(run.model);
    const int size = run.model == BlazeFaceDetector::Model::fullRange ? 256 : 128;
    Loaded loaded;
    if (run.onednn) {
        auto network = OneDnnBackend::load(path, size, *run.onednn, problem);
        if (network && !network->precisionNote().empty()) {
            std::printf("%s: in f32, %s\n", run.name, network->precisionNote().c_str());
        }
        loaded.network = network.get();
        loaded.detector = std::make_unique<BlazeFaceDetector>(std::move(network), run.model);
    } else {
        loaded.detector =
            std::make_unique<BlazeFaceDetector>(path, run.model, BlazeFaceDetector::defaultScoreThreshold, run.backend);
    }
    if (!loaded.detector->isAvailable() || !loaded.detector->fallbackReason().empty()) {
        problem += loaded.detector->loadError() + loaded.detector->fallbackReason();
        loaded.detector.reset();
    }
    return loaded;
}

// The network alone (input already written), median milliseconds over the frames, each engine in
// turn on each frame so that the machine's changes of pace fall on them alike.
std::vector<double> networkMedians(const std::vector<Loaded*>& engines,
                                   const std::vector<tovak::imaging::PixelBufferPtr>& frames) {
    std::vector<std::vector<double>> times(engines.size());
    for (const auto& frame : frames) {
        for (std::size_t e = 0; e < engines.size(); ++e) {
            engines[e]->detector->detectUpright(frame->mat());
            const auto start = std::chrono::steady_clock::now();
            engines[e]->network->run();
            times[e].push_back(msSince(start));
        }
    }
    std::vector<double> medians;
    for (const auto& t : times) {
        medians.push_back(percentile(t, 0.5));
    }
    return medians;
}

// Each step's median time over the frames, the frame put through the whole detector first.
std::vector<double> layerTimes(Loaded& loaded, const std::vector<tovak::imaging::PixelBufferPtr>& frames) {
    std::vector<std::vector<double>> samples(loaded.network->stepNames().size());
    std::vector<double> once;
    for (const auto& frame : frames) {
        loaded.detector->detectUpright(frame->mat());
        if (!loaded.network->runTimed(once)) {
            return {};
        }
        for (std::size_t i = 0; i < once.size(); ++i) {
            samples[i].push_back(once[i]);
        }
    }
    std::vector<double> medians;
    for (const auto& s : samples) {
        medians.push_back(percentile(s, 0.5));
    }
    return medians;
}

void printLayers(const Loaded& f32, const std::vector<double>& f32Times, const Loaded& fast,
                 const std::vector<double>& fastTimes) {
    const std::vector<std::string> a = f32.network->stepNames();
    const std::vector<std::string> b = fast.network->stepNames();
    std::printf("\nEach step, median microseconds (f32 timed | fast path, %s):\n",
                tovak::facedetect::onednn::precisionName(fast.network->precision()));
    double totalA = 0;
    double totalB = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size() && i < f32Times.size() && i < fastTimes.size(); ++i) {
        std::printf("%3zu %-58s %8.1f | %-52s %8.1f\n", i, a[i].c_str(), f32Times[i], b[i].c_str(), fastTimes[i]);
        totalA += f32Times[i];
        totalB += fastTimes[i];
    }
    std::printf("    %-58s %8.1f | %-52s %8.1f\n", "sum", totalA, "", totalB);
}

// How long a load of the full-range model takes with these settings, in milliseconds.
double loadMs(const OneDnnBackend::Settings& settings, int& timed) {
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    auto network = OneDnnBackend::load(BlazeFaceDetector::installedPath(), 256, settings, error);
    const double ms = msSince(start);
    timed = network ? network->timedPrimitives() : -1;
    return ms;
}

void printLoadTimes(Precision fast) {
    const auto first = OneDnnBackend::Settings{Precision::f32, false, false};
    const auto timedF32 = OneDnnBackend::Settings{Precision::f32, true, true};
    const auto timedFast = OneDnnBackend::Settings{fast, true, true};
    int timed = 0;
    // In this process: oneDNN keeps the kernels it generated, so a load after the first builds
    // them faster than a fresh process does.
    std::printf("\nLoading the full-range model on oneDNN (in this process):\n");
    std::printf("  f32, oneDNN's first implementations: %.0f ms\n", loadMs(first, timed));
    for (const auto& settings : {timedF32, timedFast}) {
        const char* name = tovak::facedetect::onednn::precisionName(settings.precision);
        // The precision's file gone from the bench's cache folder: the first load times, the second
        // reads the file it wrote.
        std::error_code ec;
        for (const auto& file :
             std::filesystem::directory_iterator(std::filesystem::path(std::getenv("XDG_CACHE_HOME")) / "tovak", ec)) {
            if (file.path().filename().string().ends_with(std::string("-") + name)) {
                std::filesystem::remove(file.path(), ec);
            }
        }
        const double cold = loadMs(settings, timed);
        std::printf("  %s, timing the implementations: %.0f ms (%d primitives timed)", name, cold, timed);
        const double warm = loadMs(settings, timed);
        std::printf("; from the cache: %.0f ms (%d timed)\n", warm, timed);
    }
}

int replayAll(const std::vector<std::pair<const char*, tovak::app::DetectorBackend>>& engines) {
    for (const auto& [name, backend] : engines) {
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
        const double seconds = msSince(start) / 1e3;
        if (status != 0) {
            std::fprintf(stderr, "bench_detector: replay failed: %s\n", err.str().c_str());
            return 1;
        }
        std::printf("\nHeadless demo replay, %s: %d frames in %.1f s = %.1f frames/s (%.1fx real time)", name,
                    DemoScene::frameCount(), seconds, DemoScene::frameCount() / seconds,
                    DemoScene::sceneEnds / seconds);
    }
    std::printf("\n");
    return 0;
}

Result haar(const std::vector<tovak::imaging::PixelBufferPtr>& frames, const std::vector<int>& indices, bool& ok) {
    const std::string cascadePath = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
    cv::CascadeClassifier cascade;
    ok = cascade.load(cascadePath);
    if (!ok) {
        std::fprintf(stderr, "bench_detector: %s is missing (package opencv-data)\n", cascadePath.c_str());
        return {};
    }
    cv::Mat gray;
    std::vector<cv::Rect> found;
    return measure("Haar frontal face (1.1, 5)", frames, indices, [&](const cv::Mat& frame) {
        cv::cvtColor(frame, gray, cv::COLOR_BGRA2GRAY);
        cascade.detectMultiScale(gray, found, 1.1, 5);
        const double frameArea = static_cast<double>(frame.cols) * frame.rows;
        return static_cast<std::size_t>(std::count_if(found.begin(), found.end(), [&](const cv::Rect& r) {
            return r.area() / frameArea >= tovak::monitor::PrivacyMonitor::minFaceNormalizedArea;
        }));
    });
}

int benchmark(int step, bool replay, bool layers) {
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
    using Settings = OneDnnBackend::Settings;
    const Precision fast = BlazeFaceDetector::fastPrecision;
    const Run runs[] = {
        {"full-range, f32, oneDNN's first", Model::fullRange, Backend::onednnF32,
         Settings{Precision::f32, false, false}},
        {"full-range, f32", Model::fullRange, Backend::onednnF32, Settings{Precision::f32, true, true}},
        {"full-range, fast path", Model::fullRange, Backend::onednn, Settings{fast, true, true}},
        {"full-range, OpenCV DNN", Model::fullRange, Backend::opencv, std::nullopt},
        {"short-range, fast path", Model::shortRange, Backend::onednn, Settings{fast, true, true}},
        {"short-range, OpenCV DNN", Model::shortRange, Backend::opencv, std::nullopt},
    };
    std::vector<Result> results;
    std::vector<Loaded> kept;
    for (const Run& run : runs) {
        Loaded loaded = load(run, error);
        if (!loaded.detector) {
            std::fprintf(stderr, "bench_detector: %s: %s (run scripts/setup)\n", run.name, error.c_str());
            return 1;
        }
        results.push_back(measure(run.name, frames, indices, [&](const cv::Mat& frame) {
            return keptFaces(loaded.detector->detectUpright(frame).value());
        }));
        kept.push_back(std::move(loaded));
    }
    bool ok = false;
    results.push_back(haar(frames, indices, ok));
    if (!ok) {
        return 1;
    }

    std::printf(
        "\nDemo scene, %zu frames of 640 x 480 (every %d); oneDNN 1 thread, OpenCV threads: %d; fast path: %s\n\n",
        frames.size(), step, cv::getNumThreads(), tovak::facedetect::onednn::precisionName(fast));
    std::printf("%-32s %10s %10s %12s %22s\n", "detector", "median ms", "p95 ms", "CPU ms (med)",
                "frames with script's count");
    for (const Result& r : results) {
        std::printf("%-32s %10.2f %10.2f %12.2f %21.1f%%\n", r.name.c_str(), r.medianMs, r.p95Ms, r.cpuMs, r.agreement);
    }
    std::printf(
        "\nfull-range median, fast path / f32 on oneDNN's first: %.2fx; fast path / f32 timed: %.2fx;"
        " f32 timed / f32 first: %.2fx\n",
        results[2].medianMs / results[0].medianMs, results[2].medianMs / results[1].medianMs,
        results[1].medianMs / results[0].medianMs);
    const std::vector<double> network = networkMedians({&kept[0], &kept[1], &kept[2]}, frames);
    std::printf(
        "full-range network alone, median: f32 on oneDNN's first %.2f ms, f32 %.2f ms, fast path %.2f ms;"
        " fast path / f32 on oneDNN's first: %.2fx\n",
        network[0], network[1], network[2], network[2] / network[0]);
    std::printf(
        "full-range CPU per frame, fast path / f32 on oneDNN's first: %.2fx; OpenCV DNN / fast path: %.2fx;"
        " Haar / fast path median: %.1fx\n",
        results[2].cpuMs / results[0].cpuMs, results[3].cpuMs / results[2].cpuMs,
        results.back().medianMs / results[2].medianMs);
    std::printf("\nDemo camera, one frame drawn: median %.2f ms, p95 %.2f ms of CPU\n", percentile(renderMs, 0.5),
                percentile(renderMs, 0.95));
    printLoadTimes(fast);
    if (layers) {
        const std::vector<double> f32Times = layerTimes(kept[1], frames);
        const std::vector<double> fastTimes = layerTimes(kept[2], frames);
        printLayers(kept[1], f32Times, kept[2], fastTimes);
    }
    using Engine = tovak::app::DetectorBackend;
    return replay ? replayAll({{"oneDNN fast path", Engine::onednn},
                               {"oneDNN f32", Engine::onednnF32},
                               {"OpenCV DNN", Engine::opencv}})
                  : 0;
}

}  // namespace

int main(int argc, char** argv) {
    int step = 1;
    bool replay = true;
    bool layers = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--step") == 0 && i + 1 < argc) {
            step = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--no-replay") == 0) {
            replay = false;
        } else if (std::strcmp(argv[i], "--layers") == 0) {
            layers = true;
        } else {
            std::fprintf(stderr, "usage: bench_detector [--step N] [--no-replay] [--layers]\n");
            return 1;
        }
    }
    char cacheFolder[] = "/tmp/tovak-bench-XXXXXX";
    if (::mkdtemp(cacheFolder) == nullptr) {
        std::perror("bench_detector: mkdtemp");
        return 1;
    }
    ::setenv("XDG_CACHE_HOME", cacheFolder, 1);
    const int status = benchmark(step, replay, layers);
    std::filesystem::remove_all(cacheFolder);
    return status;
}
