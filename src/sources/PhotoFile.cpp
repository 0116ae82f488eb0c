#include "sources/PhotoFile.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <fstream>
#include <iterator>
#include <opencv2/imgproc.hpp>
#include <vector>

// clang-format off
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their header
#include <jpeglib.h>
// clang-format on

namespace tovak::sources {

namespace {

// Far beyond any photograph the demo shows; a header claiming more is not worth the allocation.
constexpr double kMaxPixels = 64.0 * 1024 * 1024;

bool tooLarge(double width, double height) {
    return width * height > kMaxPixels;
}

cv::Mat decodePng(const std::vector<unsigned char>& data, const std::string& path, std::string& error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, data.data(), data.size()) == 0) {
        error = "damaged PNG file " + path + ": " + image.message;
        return {};
    }
    if (tooLarge(image.width, image.height)) {
        png_image_free(&image);
        error = "PNG file too large: " + path;
        return {};
    }
    // Read with the alpha channel where there is one and then drop it: asked for BGR, libpng
    // would blend the colours onto black, where imread keeps them as they are.
    const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    cv::Mat pixels(static_cast<int>(image.height), static_cast<int>(image.width), alpha ? CV_8UC4 : CV_8UC3);
    if (png_image_finish_read(&image, nullptr, pixels.data, static_cast<png_int_32>(pixels.step), nullptr) == 0) {
        error = "damaged or truncated PNG file " + path + ": " + image.message;
        return {};
    }
    if (alpha) {
        cv::Mat bgr;
        cv::cvtColor(pixels, bgr, cv::COLOR_BGRA2BGR);
        return bgr;
    }
    return pixels;
}

struct JpegErrors {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    std::jmp_buf exit;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->exit, 1);
}

// A warning means damaged data (a truncated file among them), which libjpeg would go on to paint
// grey; a photograph of the demo is better refused.
void jpegMessage(j_common_ptr info, int level) {
    if (level < 0) {
        jpegFail(info);
    }
}

// Decodes into the picture target(width, height) gives, in space: libjpeg-turbo writes BGR or BGRA
// itself (filling the alpha), from grey as from colour, the pixels imread and a conversion give.
// Nothing here has a destructor for libjpeg's longjmp to skip: the result and the reason are the
// caller's, and the decoder is destroyed on both ways out.
template <typename Target>
bool decodeJpegInto(const std::vector<unsigned char>& data, J_COLOR_SPACE space, Target&& target, const char*& failure,
                    JpegErrors& errors) {
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFail;
    errors.manager.emit_message = jpegMessage;
    if (setjmp(errors.exit) != 0) {
        jpeg_destroy_decompress(&info);
        failure = errors.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), data.size());
    jpeg_read_header(&info, TRUE);
    if (info.num_components != 1 && info.num_components != 3) {
        jpeg_destroy_decompress(&info);
        failure = "not a grey or colour JPEG";
        return false;
    }
    if (tooLarge(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        failure = "too large";
        return false;
    }
    info.out_color_space = space;
    jpeg_start_decompress(&info);
    cv::Mat& pixels = target(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.ptr(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

cv::Mat decodeJpeg(const std::vector<unsigned char>& data, const std::string& path, std::string& error) {
    cv::Mat bgr;
    const char* failure = nullptr;
    JpegErrors errors{};
    const auto picture = [&bgr](int width, int height) -> cv::Mat& {
        bgr.create(height, width, CV_8UC3);
        return bgr;
    };
    if (!decodeJpegInto(data, JCS_EXT_BGR, picture, failure, errors)) {
        error = "damaged or truncated JPEG file " + path + ": " + failure;
        return {};
    }
    return bgr;
}

}  // namespace

imaging::PixelBufferPtr readJpegFrame(const std::string& path, std::vector<unsigned char>& data,
                                      camera::FramePool& pool) {
    // A file swapped for a pipe since the folder was listed must not hold the replay up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    const bool sized = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
                       static_cast<double>(info.st_size) <= kMaxPixels;
    std::size_t filled = 0;
    if (sized) {
        data.resize(static_cast<std::size_t>(info.st_size));
        while (filled < data.size()) {
            const ssize_t got = ::read(fd, data.data() + filled, data.size() - filled);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            filled += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    if (!sized || filled != data.size() || data.size() < 3 || data[0] != 0xff || data[1] != 0xd8 || data[2] != 0xff) {
        return nullptr;
    }
    std::unique_ptr<imaging::PixelBuffer> frame;
    const auto recycled = [&](int width, int height) -> cv::Mat& {
        frame = pool.take(width, height);
        return frame->mutableMat();
    };
    const char* failure = nullptr;
    JpegErrors errors{};
    if (!decodeJpegInto(data, JCS_EXT_BGRA, recycled, failure, errors)) {
        return nullptr;
    }
    return pool.share(std::move(frame));
}

cv::Mat readPhotoFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open photograph " + path + ": " + std::strerror(errno);
        return {};
    }
    const std::vector<unsigned char> data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    static constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (data.size() >= sizeof kPngSignature && std::memcmp(data.data(), kPngSignature, sizeof kPngSignature) == 0) {
        return decodePng(data, path, error);
    }
    if (data.size() >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) {
        return decodeJpeg(data, path, error);
    }
    error = "not a PNG or JPEG photograph: " + path;
    return {};
}

}  // namespace tovak::sources
