#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/PixelBuffer.h"

namespace tovak::camera {

// The pixel layouts a camera frame arrives in, as far as Tovak converts them itself.
enum class FrameLayout {
    // Packed 4:2:2, Y0 U Y1 V (V4L2_PIX_FMT_YUYV), BT.601 limited range as webcams send it.
    yuyv,
    // One JPEG picture per frame (V4L2_PIX_FMT_MJPEG or JPEG); Huffman tables may be left out.
    mjpeg,
    // Packed 24-bit B G R: what libv4l2 makes of any other format a camera delivers.
    bgr24,
};

struct FrameFormat {
    FrameLayout layout = FrameLayout::yuyv;
    int width = 0;
    int height = 0;
    // Bytes from one row to the next in the source (0: packed).
    std::size_t bytesPerLine = 0;
};

// Turns camera frames into 32-bit BGRA. One converter per capture thread: it keeps its JPEG
// decoder between frames, so converting allocates nothing.
class FrameConverter {
  public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Converts bytes (one frame in format) into out, which must be format.width x format.height.
    // False, with out partly written, for a short or damaged frame, or a JPEG of another size.
    bool convert(const std::uint8_t* bytes, std::size_t size, const FrameFormat& format, imaging::PixelBuffer& out);

  private:
    struct Jpeg;
    std::unique_ptr<Jpeg> jpeg_;
};

}  // namespace tovak::camera
