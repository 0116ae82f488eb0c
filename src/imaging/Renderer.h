#pragma once

#include <mutex>
#include <opencv2/core.hpp>
#include <optional>

#include "imaging/Orientation.h"
#include "imaging/PixelBuffer.h"

namespace tovak::imaging {

// The one shared rendering context: keeps its scratch memory between calls so that no per-frame
// context or intermediate image is allocated. Safe to call from several threads; calls are
// serialised.
class Renderer {
  public:
    // The frame turned upright and scaled uniformly by scale, as a new bitmap whose logical size is
    // the scaled extent. None when the frame or the scale is unusable.
    [[nodiscard]] std::optional<Image> renderUpright(const PixelBuffer& frame, Orientation orientation, double scale);

    // Resamples src (upright, already cropped) into a fresh BGRA bitmap of targetWidth x
    // targetHeight pixels, placing it at the given pixel rectangle and filling the rest black.
    [[nodiscard]] std::optional<PixelBufferPtr> renderPlaced(const cv::Mat& src, int targetWidth, int targetHeight,
                                                             const cv::Rect2d& placement);

    // A fresh opaque BGRA bitmap of bitmapSize in which the sourceRegion of frame is resampled once
    // (bilinear) onto placement and every pixel whose centre lies outside placement is black. Both
    // rectangles are real-valued, in pixels, origin top left; samples never reach outside the
    // whole pixels that sourceRegion touches.
    [[nodiscard]] std::optional<PixelBufferPtr> renderRegion(const cv::Mat& frame, const cv::Rect2d& sourceRegion,
                                                             cv::Size bitmapSize, const cv::Rect2d& placement);

  private:
    std::mutex mutex_;
    cv::Mat scaled_;
};

}  // namespace tovak::imaging
