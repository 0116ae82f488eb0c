#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <opencv2/core.hpp>

namespace tovak::imaging {

// A 32-bit BGRA frame or bitmap. Immutable once shared: frames cross threads as
// std::shared_ptr<const PixelBuffer>.
class PixelBuffer {
  public:
    // A black, fully opaque buffer.
    PixelBuffer(int width, int height);
    // Takes a CV_8UC4 matrix in BGRA order without copying it.
    explicit PixelBuffer(cv::Mat bgra);

    // Copies a 3-channel BGR image into a new BGRA buffer.
    static std::shared_ptr<const PixelBuffer> fromBgr(const cv::Mat& bgr);

    [[nodiscard]] int width() const { return mat_.cols; }
    [[nodiscard]] int height() const { return mat_.rows; }
    [[nodiscard]] std::size_t bytesPerRow() const { return mat_.step[0]; }
    [[nodiscard]] const std::uint8_t* data() const { return mat_.data; }
    [[nodiscard]] std::uint8_t* mutableData() { return mat_.data; }

    // The pixels as an OpenCV matrix header sharing this buffer's memory.
    [[nodiscard]] const cv::Mat& mat() const { return mat_; }
    [[nodiscard]] cv::Mat& mutableMat() { return mat_; }

  private:
    cv::Mat mat_;
};

using PixelBufferPtr = std::shared_ptr<const PixelBuffer>;

// A rendered picture: a bitmap and the size at which it is drawn, in points.
struct Image {
    PixelBufferPtr bitmap;
    double width = 0;
    double height = 0;
};

}  // namespace tovak::imaging
