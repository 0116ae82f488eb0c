#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace tovak::sources {

// A PNG or JPEG photograph as 8-bit BGR, the pixels cv::imread(path, cv::IMREAD_COLOR) gives for
// an 8-bit sRGB file, decoded with libpng and libjpeg-turbo so the binary needs no imgcodecs (and
// the hundred libraries behind it). Empty, with the reason in error, for a missing, truncated or
// damaged file or one of another kind. Where imread differs: a PNG with 16-bit samples or a gAMA
// chunk is brought to 8-bit sRGB by libpng rather than cut to its high byte, and a JPEG's EXIF
// orientation is not applied; CMYK JPEGs and damage imread would paint grey are refused.
[[nodiscard]] cv::Mat readPhotoFile(const std::string& path, std::string& error);

}  // namespace tovak::sources
