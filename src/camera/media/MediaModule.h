#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>

namespace tovak::camera::media {

// What the media module (libtovak-media.so) offers: OpenCV's video and image decoders pull in
// some 240 libraries (FFmpeg, GStreamer, GDAL), so they are loaded only when a recorded file is
// opened (the camera goes through Tovak's own capture) and ship in a package of their own. Nothing crosses this
// boundary but these calls: no exceptions, and no OpenCV type the main binary would have to link videoio or imgcodecs
// for.

// An opened video file.
class Capture {
  public:
    virtual ~Capture() = default;
    // The next frame, 8-bit BGR or grey; false when there is none.
    virtual bool read(cv::Mat& frame) = 0;
    // The file's own frame rate, 0 when it has none.
    [[nodiscard]] virtual double framesPerSecond() const = 0;
};

class MediaModule {
  public:
    virtual ~MediaModule() = default;
    // A video file through FFmpeg; none when it does not open.
    [[nodiscard]] virtual std::unique_ptr<Capture> openVideo(const std::string& path) const = 0;
    // An image file as it is stored (cv::IMREAD_UNCHANGED); empty when it does not decode.
    [[nodiscard]] virtual cv::Mat readImage(const std::string& path) const = 0;
    // Whether the file starts as a picture format this build decodes, without decoding it.
    [[nodiscard]] virtual bool looksLikeImage(const std::string& path) const = 0;
};

// Raised whenever the interface above changes, so a stale module left in a library folder is
// refused instead of called through the wrong table.
inline constexpr int interfaceVersion = 2;

}  // namespace tovak::camera::media

// The module's one exported symbol: its table, or null when built against another interfaceVersion.
extern "C" const tovak::camera::media::MediaModule* tovak_media_module(int interfaceVersion);
