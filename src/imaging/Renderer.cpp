#include "imaging/Renderer.h"

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace tovak::imaging {

std::optional<Image> Renderer::renderUpright(const PixelBuffer& frame, Orientation orientation, double scale) {
    if (frame.width() < 1 || frame.height() < 1 || !(scale > 0) || !std::isfinite(scale)) {
        return std::nullopt;
    }
    const Size upright = orientedSize(frame.width(), frame.height(), orientation);
    const Size extent{upright.width * scale, upright.height * scale};
    // Resize before turning: the two commute, and the smaller image is cheaper to turn.
    const int scaledW = std::max(1, static_cast<int>(std::lround(frame.width() * scale)));
    const int scaledH = std::max(1, static_cast<int>(std::lround(frame.height() * scale)));
    try {
        std::lock_guard lock(mutex_);
        const cv::Mat* source = &frame.mat();
        if (scaledW != frame.width() || scaledH != frame.height()) {
            cv::resize(frame.mat(), scaled_, cv::Size(scaledW, scaledH), 0, 0, cv::INTER_AREA);
            source = &scaled_;
        }
        cv::Mat out;
        applyOrientation(*source, out, orientation);
        return Image{std::make_shared<const PixelBuffer>(std::move(out)), extent.width, extent.height};
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

std::optional<PixelBufferPtr> Renderer::renderPlaced(const cv::Mat& src, int targetWidth, int targetHeight,
                                                     const cv::Rect2d& placement) {
    if (targetWidth < 1 || targetHeight < 1 || src.empty() || !(placement.width > 0) || !(placement.height > 0)) {
        return std::nullopt;
    }
    try {
        cv::Mat out(targetHeight, targetWidth, CV_8UC4, cv::Scalar(0, 0, 0, 255));
        // One affine resample maps the source onto its placement; everything outside stays black.
        const double sx = placement.width / src.cols;
        const double sy = placement.height / src.rows;
        cv::Matx23d transform(sx, 0, placement.x + 0.5 * sx - 0.5, 0, sy, placement.y + 0.5 * sy - 0.5);
        cv::warpAffine(src, out, transform, out.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
        return std::make_shared<const PixelBuffer>(std::move(out));
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

}  // namespace tovak::imaging
