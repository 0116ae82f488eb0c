#include "sources/FileSource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <opencv2/imgproc.hpp>
#include <utility>

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

// A picture as frames are made of, 8 bits a channel; empty when it has no such form.
cv::Mat eightBit(cv::Mat image) {
    if (image.depth() == CV_16U) {
        image.convertTo(image, CV_8U, 1.0 / 257);
    }
    return image.depth() == CV_8U ? image : cv::Mat();
}

// "tovak: пропущены ... : a.png, b.jpg", the names in the folder, at most ten of them.
std::string skippedLine(const std::vector<std::string>& paths) {
    constexpr std::size_t shown = 10;
    std::string line = paths.size() == 1 ? "tovak: пропущен файл, который не читается как картинка: "
                                         : "tovak: пропущены файлы, которые не читаются как картинки: ";
    for (std::size_t i = 0; i < std::min(paths.size(), shown); ++i) {
        line += (i == 0 ? "" : ", ") + fs::path(paths[i]).filename().string();
    }
    if (paths.size() > shown) {
        line += " и ещё " + std::to_string(paths.size() - shown);
    }
    return line + "\n";
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

std::unique_ptr<FileSource> FileSource::open(const std::string& path, std::string& error, std::ostream* notes) {
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
        std::vector<std::string> named, skipped;
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file(ec) && isImageName(entry.path())) {
                named.push_back(entry.path().string());
            }
        }
        if (named.empty()) {
            error = "no images in folder: " + path;
            return nullptr;
        }
        std::sort(named.begin(), named.end());
        // Each file's first bytes tell most impostors; the first picture is decoded to prove one is there.
        for (std::string& file : named) {
            (media->looksLikeImage(file) ? source->images_ : skipped).push_back(std::move(file));
        }
        while (!source->images_.empty() &&
               (source->firstFrame_ = eightBit(media->readImage(source->images_.front()))).empty()) {
            skipped.push_back(source->images_.front());
            source->images_.erase(source->images_.begin());
        }
        if (notes != nullptr && !skipped.empty()) {
            std::sort(skipped.begin(), skipped.end());
            *notes << skippedLine(skipped);
        }
        if (source->images_.empty()) {
            error = "в папке нет ни одной картинки, которую можно прочесть: " + path;
            return nullptr;
        }
        source->notes_ = notes;
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
    // Frames follow each other at the rate, whatever was skipped between them.
    const double timestamp = static_cast<double>(delivered_) / fps_;
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
        ++delivered_;
        return SourceFrame{toBgra(frame), timestamp};
    }
    // An unreadable image in the folder is skipped rather than ending the replay.
    while (static_cast<std::size_t>(index_) < images_.size()) {
        const std::string& file = images_[static_cast<std::size_t>(index_)];
        cv::Mat image = index_ == 0 ? std::exchange(firstFrame_, cv::Mat()) : eightBit(media_->readImage(file));
        ++index_;
        if (!image.empty()) {
            ++delivered_;
            return SourceFrame{toBgra(image), timestamp};
        }
        if (notes_ != nullptr) {
            *notes_ << skippedLine({file});
        }
    }
    return std::nullopt;
}

}  // namespace tovak::sources
