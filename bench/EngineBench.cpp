// The engine's own cost per frame at 640 x 480 with two faces: intake, decisions, preview and the
// panel's crop, with detection replaced by a fixed answer. Prints the median and 95th percentile.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "support/MonitorHarness.h"

using namespace tovak;

namespace {

// Crops and scales the onlooker's face to the panel's 280 x 210, as the panel does on each update.
class CroppingPresenter final : public monitor::PiPPresenter {
  public:
    void show() override {}
    void hide() override {}
    void setOnClose(std::function<void()>) override {}
    void update(const imaging::PixelBufferPtr& pixelBuffer, const imaging::Rect& box, imaging::Orientation, double,
                double, imaging::Renderer&) override {
        const cv::Mat& frame = pixelBuffer->mat();
        const cv::Rect crop(static_cast<int>(box.x * frame.cols), static_cast<int>((1.0 - box.maxY()) * frame.rows),
                            static_cast<int>(box.width * frame.cols), static_cast<int>(box.height * frame.rows));
        cv::resize(frame(crop & cv::Rect(0, 0, frame.cols, frame.rows)), out_, cv::Size(280, 210), 0, 0,
                   cv::INTER_LINEAR);
        ++renders;
    }
    int renders = 0;

  private:
    cv::Mat out_;
};

}  // namespace

int main() {
    auto pip = std::make_shared<CroppingPresenter>();
    testing::MonitorHarness h([&](monitor::Ports& deps) { deps.pip = pip; });

    cv::Mat frame(480, 640, CV_8UC4);
    cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(255));
    h.frameBuffer = std::make_shared<const imaging::PixelBuffer>(frame);
    h.detector->setSteady(testing::faces({0.05, 0.03}));
    h.start();

    constexpr int kWarmup = 200;
    constexpr int kFrames = 3000;
    std::vector<double> micros;
    micros.reserve(kFrames);
    for (int i = 0; i < kWarmup + kFrames; ++i) {
        h.sim.advance(1.0 / 30.0);
        const auto begin = std::chrono::steady_clock::now();
        h.camera->deliver(h.frameBuffer, h.connection);
        h.sim.drain();
        const auto end = std::chrono::steady_clock::now();
        if (i >= kWarmup) {
            micros.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
        }
    }
    std::sort(micros.begin(), micros.end());
    const double median = micros[micros.size() / 2];
    const double p95 = micros[micros.size() * 95 / 100];
    std::printf(
        "engine per frame (640x480, two faces, detection excluded): median %.1f us, p95 %.1f us over %d frames\n",
        median, p95, kFrames);
    std::printf("panel crops rendered: %d of %d frames\n", pip->renders, kWarmup + kFrames);
    return 0;
}
