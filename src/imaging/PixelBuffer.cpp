#include "imaging/PixelBuffer.h"

#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <utility>

namespace tovak::imaging {

PixelBuffer::PixelBuffer(int width, int height) : mat_(height, width, CV_8UC4, cv::Scalar(0, 0, 0, 255)) {}

PixelBuffer::PixelBuffer(cv::Mat bgra) : mat_(std::move(bgra)) {
    if (mat_.type() != CV_8UC4) {
        throw std::invalid_argument("PixelBuffer needs a CV_8UC4 (BGRA) matrix");
    }
}

std::shared_ptr<const PixelBuffer> PixelBuffer::fromBgr(const cv::Mat& bgr) {
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    return std::make_shared<const PixelBuffer>(std::move(bgra));
}

}  // namespace tovak::imaging
