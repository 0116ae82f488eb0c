#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "camera/FramePool.h"
#include "imaging/PixelBuffer.h"

namespace tovak::sources {

// A PNG or JPEG photograph as 8-bit BGR, the pixels cv::imread(path, cv::IMREAD_COLOR) gives for
// an 8-bit sRGB file, decoded with libpng and libjpeg-turbo so the binary needs no imgcodecs (and
// the hundred libraries behind it). Empty, with the reason in error, for a missing, truncated or
// damaged file or one of another kind. Where imread differs: a PNG with 16-bit samples or a gAMA
// chunk is brought to 8-bit sRGB by libpng rather than cut to its high byte, and a JPEG's EXIF
// orientation is not applied; CMYK JPEGs and damage imread would paint grey are refused.
[[nodiscard]] cv::Mat readPhotoFile(const std::string& path, std::string& error);

// A JPEG frame of a recording decoded straight into a BGRA buffer of pool, the file read into data
// (kept by the caller, so a replay allocates nothing per frame): the pixels imread and a conversion
// to BGRA give. Null for a file that is no JPEG, or one this decoder refuses (damaged, CMYK, too
// large), which the caller reads the general way.
[[nodiscard]] imaging::PixelBufferPtr readJpegFrame(const std::string& path, std::vector<unsigned char>& data,
                                                    camera::FramePool& pool);

}  // namespace tovak::sources
