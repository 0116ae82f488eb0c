#include "sources/FileSource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <opencv2/imgproc.hpp>

#include "camera/media/MediaLoader.h"

namespace tovak::sources {

namespace fs = std::filesystem;

namespace {

bool isImageName(const fs::path& path) {
    static const std::array<std::string, 10> kExtensions{".png", ".jpg",  ".jpeg", ".bmp", ".webp",
                                                         ".tif", ".tiff", ".pgm",  ".ppm", ".pnm"};
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return std::find(kExtensions.begin(), kExtensions.end(), ext) != kExtensions.end();
}

imaging::PixelBufferPtr toBgra(const cv::Mat& image) {
    cv::Mat bgra;
    if (image.channels() == 4) {
        image.copyTo(bgra);
    } else {
        cv::cvtColor(image, bgra, image.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
    }
    return std::make_shared<const imaging::PixelBuffer>(std::move(bgra));
}

}  // namespace

std::unique_ptr<FileSource> FileSource::open(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "no such file or folder: " + path;
        return nullptr;
    }
    std::string mediaError;
    const camera::media::MediaModule* media = camera::media::loadMediaModule(mediaError);
    if (media == nullptr) {
        error = "cannot play " + path + ": " + mediaError;
        return nullptr;
    }
    std::unique_ptr<FileSource> source(new FileSource());
    source->media_ = media;
    source->name_ = fs::path(path).filename().string();
    if (source->name_.empty()) {
        source->name_ = fs::path(path).parent_path().filename().string();
    }
    if (fs::is_directory(path, ec)) {
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file(ec) && isImageName(entry.path())) {
                source->images_.push_back(entry.path().string());
            }
        }
        std::sort(source->images_.begin(), source->images_.end());
        if (source->images_.empty()) {
            error = "no images in folder: " + path;
            return nullptr;
        }
        return source;
    }
    std::unique_ptr<camera::media::Capture> video = media->openVideo(path);
    if (!video || !video->read(source->firstFrame_)) {
        error = "not a video this build can read: " + path;
        return nullptr;
    }
    const double fps = video->framesPerSecond();
    // Containers without a usable rate play at the camera's usual 30.
    source->fps_ = fps > 0 && fps <= 240 ? fps : imageFolderFps;
    source->video_ = std::move(video);
    return source;
}

std::optional<SourceFrame> FileSource::next() {
    const double timestamp = static_cast<double>(index_) / fps_;
    if (video_) {
        cv::Mat frame;
        if (index_ == 0) {
            frame = firstFrame_;
            firstFrame_.release();
        } else if (!video_->read(frame)) {
            return std::nullopt;
        }
        if (frame.empty()) {
            return std::nullopt;
        }
        ++index_;
        return SourceFrame{toBgra(frame), timestamp};
    }
    // An unreadable image in the folder is skipped rather than ending the replay.
    while (static_cast<std::size_t>(index_) < images_.size()) {
        cv::Mat image = media_->readImage(images_[static_cast<std::size_t>(index_)]);
        ++index_;
        if (!image.empty() && image.depth() == CV_8U) {
            return SourceFrame{toBgra(image), timestamp};
        }
    }
    return std::nullopt;
}

}  // namespace tovak::sources
