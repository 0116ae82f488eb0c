#include "camera/FrameConverter.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their header
#include <opencv2/imgproc.hpp>
#include <vector>

namespace tovak::camera {

struct FrameConverter::Jpeg {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf exit{};
    std::vector<JSAMPROW> rows;

    Jpeg() {
        info.err = jpeg_std_error(&errors);
        info.client_data = this;
        errors.error_exit = [](j_common_ptr common) { std::longjmp(static_cast<Jpeg*>(common->client_data)->exit, 1); };
        // Webcams' frames often carry stray bytes libjpeg warns about; the picture is still whole.
        errors.emit_message = [](j_common_ptr, int) {};
        jpeg_create_decompress(&info);
    }
    ~Jpeg() { jpeg_destroy_decompress(&info); }

    // Nothing between setjmp and a libjpeg call has a destructor for the longjmp to skip.
    bool decode(const std::uint8_t* bytes, std::size_t size, imaging::PixelBuffer& out) {
        if (setjmp(exit) != 0) {
            jpeg_abort_decompress(&info);
            return false;
        }
        jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
        if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || static_cast<int>(info.image_width) != out.width() ||
            static_cast<int>(info.image_height) != out.height()) {
            jpeg_abort_decompress(&info);
            return false;
        }
        // libjpeg-turbo writes BGRA itself, opaque, from grey as from colour.
        info.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&info);
        for (int y = 0; y < out.height(); ++y) {
            rows[static_cast<std::size_t>(y)] = out.mutableData() + static_cast<std::size_t>(y) * out.bytesPerRow();
        }
        while (info.output_scanline < info.output_height) {
            jpeg_read_scanlines(&info, rows.data() + info.output_scanline, info.output_height - info.output_scanline);
        }
        jpeg_finish_decompress(&info);
        return true;
    }
};

FrameConverter::FrameConverter() : jpeg_(std::make_unique<Jpeg>()) {}

FrameConverter::~FrameConverter() = default;

bool FrameConverter::convert(const std::uint8_t* bytes, std::size_t size, const FrameFormat& format,
                             imaging::PixelBuffer& out) {
    if (out.width() != format.width || out.height() != format.height || format.width <= 0 || format.height <= 0) {
        return false;
    }
    const auto width = static_cast<std::size_t>(format.width);
    const auto height = static_cast<std::size_t>(format.height);
    switch (format.layout) {
        case FrameLayout::yuyv: {
            const std::size_t step = std::max(format.bytesPerLine, width * 2);
            if (bytes == nullptr || size < step * (height - 1) + width * 2) {
                return false;
            }
            // OpenCV's SIMD conversion (BT.601 limited range, as webcams send YUYV): five times
            // faster than a plain loop here. A header over the frame, written into out's memory.
            const cv::Mat yuyv(format.height, format.width, CV_8UC2, const_cast<std::uint8_t*>(bytes), step);
            cv::cvtColor(yuyv, out.mutableMat(), cv::COLOR_YUV2BGRA_YUYV);
            return true;
        }
        case FrameLayout::mjpeg:
            if (bytes == nullptr || size == 0) {
                return false;
            }
            jpeg_->rows.resize(height);
            return jpeg_->decode(bytes, size, out);
        case FrameLayout::bgr24: {
            const std::size_t step = std::max(format.bytesPerLine, width * 3);
            if (bytes == nullptr || size < step * (height - 1) + width * 3) {
                return false;
            }
            // A header over the frame: cvtColor writes into out's own memory, allocating nothing.
            const cv::Mat bgr(format.height, format.width, CV_8UC3, const_cast<std::uint8_t*>(bytes), step);
            cv::cvtColor(bgr, out.mutableMat(), cv::COLOR_BGR2BGRA);
            return true;
        }
    }
    return false;
}

}  // namespace tovak::camera
