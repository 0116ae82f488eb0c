#include "imaging/Renderer.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "imaging/Resample.h"

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

std::optional<PixelBufferPtr> Renderer::renderRegion(const cv::Mat& frame, const cv::Rect2d& sourceRegion,
                                                     cv::Size bitmapSize, const cv::Rect2d& placement) {
    if (bitmapSize.width < 1 || bitmapSize.height < 1 || frame.empty() || !(sourceRegion.width > 0) ||
        !(sourceRegion.height > 0) || !(placement.width > 0) || !(placement.height > 0)) {
        return std::nullopt;
    }
    // Whole source pixels touched by the region, and destination pixels whose centres it covers.
    const int sx0 = std::clamp(static_cast<int>(std::floor(sourceRegion.x)), 0, frame.cols);
    const int sy0 = std::clamp(static_cast<int>(std::floor(sourceRegion.y)), 0, frame.rows);
    const int sx1 = std::clamp(static_cast<int>(std::ceil(sourceRegion.x + sourceRegion.width)), 0, frame.cols);
    const int sy1 = std::clamp(static_cast<int>(std::ceil(sourceRegion.y + sourceRegion.height)), 0, frame.rows);
    const auto firstCentre = [](double edge, int limit) {
        return std::clamp(static_cast<int>(std::ceil(edge - 0.5)), 0, limit);
    };
    const int dx0 = firstCentre(placement.x, bitmapSize.width);
    const int dy0 = firstCentre(placement.y, bitmapSize.height);
    const int dx1 = std::max(dx0, firstCentre(placement.x + placement.width, bitmapSize.width));
    const int dy1 = std::max(dy0, firstCentre(placement.y + placement.height, bitmapSize.height));
    try {
        cv::Mat out(bitmapSize, CV_8UC4);
        const cv::Scalar black(0, 0, 0, 255);
        // Only the bars are filled: the picture area is written once, by the resample.
        out.rowRange(0, dy0).setTo(black);
        out.rowRange(dy1, out.rows).setTo(black);
        out(cv::Range(dy0, dy1), cv::Range(0, dx0)).setTo(black);
        out(cv::Range(dy0, dy1), cv::Range(dx1, out.cols)).setTo(black);
        if (dx1 > dx0 && dy1 > dy0) {
            cv::Mat dst = out(cv::Range(dy0, dy1), cv::Range(dx0, dx1));
            if (sx1 > sx0 && sy1 > sy0) {
                const cv::Mat src = frame(cv::Range(sy0, sy1), cv::Range(sx0, sx1));
                const double kx = placement.width / sourceRegion.width;
                const double ky = placement.height / sourceRegion.height;
                // Pixel centres: destination index + 0.5 = placement + (source index + 0.5 - region) * k.
                resampleBilinear(src, dst, kx, ky, placement.x + (sx0 + 0.5 - sourceRegion.x) * kx - dx0 - 0.5,
                                 placement.y + (sy0 + 0.5 - sourceRegion.y) * ky - dy0 - 0.5);
            } else {
                dst.setTo(black);
            }
        }
        return std::make_shared<const PixelBuffer>(std::move(out));
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

}  // namespace tovak::imaging
