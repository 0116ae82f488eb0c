#include "sources/FileSource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <utility>

#include "camera/media/MediaLoader.h"
#include "sources/PhotoFile.h"

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

// The picture in a recycled BGRA frame: the size matches, so neither call allocates.
imaging::PixelBufferPtr toBgra(const cv::Mat& image, camera::FramePool& pool) {
    std::unique_ptr<imaging::PixelBuffer> frame = pool.take(image.cols, image.rows);
    cv::Mat& bgra = frame->mutableMat();
    if (image.channels() == 4) {
        image.copyTo(bgra);
    } else {
        cv::cvtColor(image, bgra, image.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
    }
    return pool.share(std::move(frame));
}

bool isJpegName(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".jpg" || ext == ".jpeg";
}

bool startsAsJpeg(const std::string& path) {
    char start[3] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(start, sizeof start) && start[0] == '\xff' && start[1] == '\xd8' && start[2] == '\xff';
}

}  // namespace

std::unique_ptr<FileSource> FileSource::open(const std::string& path, std::string& error, std::ostream* notes) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "no such file or folder: " + path;
        return nullptr;
    }
    std::unique_ptr<FileSource> source(new FileSource());
    const auto media = [&] {
        std::string mediaError;
        const camera::media::MediaModule* module = source->media(&mediaError);
        if (module == nullptr) {
            error = "cannot play " + path + ": " + mediaError;
        }
        return module;
    };
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
        // A folder of JPEG frames, the usual recording, is played without the media module.
        for (std::string& file : named) {
            bool image = isJpegName(file) && startsAsJpeg(file);
            if (!image) {
                if (media() == nullptr) {
                    return nullptr;
                }
                image = source->media()->looksLikeImage(file);
            }
            (image ? source->images_ : skipped).push_back(std::move(file));
        }
        while (!source->images_.empty() && !source->readFrame(source->images_.front())) {
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
    if (media() == nullptr) {
        return nullptr;
    }
    std::unique_ptr<camera::media::Capture> video = source->media()->openVideo(path);
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
        return SourceFrame{toBgra(frame, *pool_), timestamp};
    }
    // An unreadable image in the folder is skipped rather than ending the replay.
    while (static_cast<std::size_t>(index_) < images_.size()) {
        const std::string& file = images_[static_cast<std::size_t>(index_)];
        imaging::PixelBufferPtr frame = readFrame(file);
        ++index_;
        if (frame) {
            ++delivered_;
            return SourceFrame{std::move(frame), timestamp};
        }
        if (notes_ != nullptr) {
            *notes_ << skippedLine({file});
        }
    }
    return std::nullopt;
}

const camera::media::MediaModule* FileSource::media(std::string* error) {
    if (media_ == nullptr && error != nullptr) {
        media_ = camera::media::loadMediaModule(*error);
    }
    return media_;
}

imaging::PixelBufferPtr FileSource::readFrame(const std::string& file) {
    // JPEG frames decode straight into a recycled frame; whatever that refuses is read the general
    // way, which decides what counts as a picture.
    if (isJpegName(file)) {
        if (imaging::PixelBufferPtr frame = readJpegFrame(file, fileData_, *pool_)) {
            return frame;
        }
    }
    std::string ignored;
    if (media(&ignored) == nullptr) {
        return nullptr;
    }
    const cv::Mat image = eightBit(media_->readImage(file));
    return image.empty() ? nullptr : toBgra(image, *pool_);
}

}  // namespace tovak::sources
