#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "camera/FramePool.h"
#include "camera/media/MediaModule.h"
#include "sources/FrameSource.h"

namespace tovak::sources {

// A recorded camera: a video file (decoded by FFmpeg through OpenCV) at its own frame rate, or a
// folder of images in name order at 30 frames a second. Both are decoded by the media module, loaded
// when first needed, but for a folder's JPEG frames: libjpeg-turbo writes those straight into
// recycled frames.
class FileSource final : public FrameSource {
  public:
    static constexpr double imageFolderFps = 30.0;

    // None, with the reason in error, for a missing path, a file that is not a video, a folder
    // without a picture that decodes, or a media module that does not load. The files of a folder
    // passed over (named as pictures, not readable as one) are told on notes, when given: at the
    // open all that can be told without decoding, in one line, and any other when its turn comes.
    static std::unique_ptr<FileSource> open(const std::string& path, std::string& error, std::ostream* notes = nullptr);

    std::optional<SourceFrame> next() override;
    [[nodiscard]] std::string name() const override { return name_; }
    [[nodiscard]] double framesPerSecond() const override { return fps_; }

  private:
    FileSource() = default;
    // The media module, loaded on first need; null when it does not load (the reason in error), or
    // when error is null and it has not been loaded yet.
    const camera::media::MediaModule* media(std::string* error = nullptr);
    // A picture of the folder as a frame; null when it does not decode.
    imaging::PixelBufferPtr readFrame(const std::string& file);

    std::string name_;
    double fps_ = imageFolderFps;
    std::int64_t index_ = 0;
    std::int64_t delivered_ = 0;
    const camera::media::MediaModule* media_ = nullptr;
    // One of the two.
    std::unique_ptr<camera::media::Capture> video_;
    std::vector<std::string> images_;
    // A video's first frame, read when it was opened to prove it decodes.
    cv::Mat firstFrame_;
    std::ostream* notes_ = nullptr;
    std::shared_ptr<camera::FramePool> pool_ = camera::FramePool::make();
    // The bytes of the last JPEG frame read, kept for the next.
    std::vector<unsigned char> fileData_;
};

}  // namespace tovak::sources
