#include "imaging/Orientation.h"

namespace tovak::imaging {

bool swapsAxes(Orientation orientation) {
    return static_cast<int>(orientation) >= 5;
}

Size orientedSize(double width, double height, Orientation orientation) {
    return swapsAxes(orientation) ? Size{height, width} : Size{width, height};
}

void applyOrientation(const cv::Mat& src, cv::Mat& dst, Orientation orientation) {
    switch (orientation) {
        case Orientation::up:
            src.copyTo(dst);
            return;
        case Orientation::upMirrored:
            cv::flip(src, dst, 1);
            return;
        case Orientation::down:
            cv::rotate(src, dst, cv::ROTATE_180);
            return;
        case Orientation::downMirrored:
            cv::flip(src, dst, 0);
            return;
        case Orientation::leftMirrored:
            cv::transpose(src, dst);
            return;
        case Orientation::right:
            cv::rotate(src, dst, cv::ROTATE_90_CLOCKWISE);
            return;
        case Orientation::rightMirrored:
            cv::transpose(src, dst);
            cv::flip(dst, dst, -1);
            return;
        case Orientation::left:
            cv::rotate(src, dst, cv::ROTATE_90_COUNTERCLOCKWISE);
            return;
    }
    src.copyTo(dst);
}

}  // namespace tovak::imaging
