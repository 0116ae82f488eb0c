// The media module itself: the only code of Tovak that links OpenCV's videoio and imgcodecs.

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "camera/media/MediaModule.h"

namespace tovak::camera::media {

namespace {

class OpenCvCapture final : public Capture {
  public:
    explicit OpenCvCapture(std::unique_ptr<cv::VideoCapture> capture) : capture_(std::move(capture)) {}

    bool read(cv::Mat& frame) override {
        try {
            return capture_->read(frame) && !frame.empty();
        } catch (const cv::Exception&) {
            return false;
        }
    }

    double framesPerSecond() const override {
        try {
            return capture_->get(cv::CAP_PROP_FPS);
        } catch (const cv::Exception&) {
            return 0;
        }
    }

  private:
    std::unique_ptr<cv::VideoCapture> capture_;
};

class OpenCvMedia final : public MediaModule {
  public:
    std::unique_ptr<Capture> openVideo(const std::string& path) const override {
        auto capture = std::make_unique<cv::VideoCapture>();
        try {
            if (!capture->open(path, cv::CAP_FFMPEG)) {
                return nullptr;
            }
        } catch (const cv::Exception&) {
            return nullptr;
        }
        return std::make_unique<OpenCvCapture>(std::move(capture));
    }

    cv::Mat readImage(const std::string& path) const override {
        try {
            return cv::imread(path, cv::IMREAD_UNCHANGED);
        } catch (const cv::Exception&) {
            return {};
        }
    }

    bool looksLikeImage(const std::string& path) const override {
        try {
            return cv::haveImageReader(path);
        } catch (const cv::Exception&) {
            return false;
        }
    }
};

}  // namespace

}  // namespace tovak::camera::media

extern "C" __attribute__((visibility("default"))) const tovak::camera::media::MediaModule* tovak_media_module(
    int interfaceVersion) {
    static const tovak::camera::media::OpenCvMedia media;
    return interfaceVersion == tovak::camera::media::interfaceVersion ? &media : nullptr;
}
