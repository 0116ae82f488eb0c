// Time of one fittedImage call for the panel and for a 2x laptop screen, from a 1280 x 720 frame.
// Prints the median and the 95th percentile of many runs; no target is asserted here.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <vector>

#include "overlay/FaceCropRender.h"

namespace {

using namespace tovak;

struct Figures {
    double medianMs;
    double p95Ms;
};

Figures measure(const imaging::PixelBufferPtr& frame, const imaging::Size& target, double zoom, int runs) {
    imaging::Renderer renderer;
    const imaging::Rect box{0.42, 0.35, 0.16, 0.28};
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(runs));
    for (int i = -runs / 10; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto image = overlay::FaceCropRender::fittedImage(frame, box, imaging::Orientation::up, 0.08, zoom,
                                                                target, target, renderer);
        const auto end = std::chrono::steady_clock::now();
        if (!image) {
            std::fprintf(stderr, "fittedImage gave no image\n");
            std::exit(1);
        }
        if (i >= 0) {  // the first tenth warms caches and the allocator
            times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 95 / 100)]};
}

}  // namespace

int main() {
    cv::Mat mat(720, 1280, CV_8UC4);
    cv::randu(mat, cv::Scalar::all(0), cv::Scalar::all(255));
    const auto frame = std::make_shared<const imaging::PixelBuffer>(std::move(mat));

    const Figures panel = measure(frame, {280, 210}, 1.0, 2000);
    const Figures screen = measure(frame, {3024, 1964}, 1.55, 300);
    std::printf("fittedImage 1280x720 -> 280x210 (panel):        median %.3f ms, p95 %.3f ms (target < 0.3 ms)\n",
                panel.medianMs, panel.p95Ms);
    std::printf("fittedImage 1280x720 -> 3024x1964 (full screen): median %.3f ms, p95 %.3f ms (target < 8 ms)\n",
                screen.medianMs, screen.p95Ms);
    return 0;
}
