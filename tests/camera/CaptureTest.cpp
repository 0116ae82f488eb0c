#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>  // jpeglib.h uses FILE without including its header
#include <future>
#include <opencv2/imgproc.hpp>

#include "FakeV4L2.h"
#include "camera/FramePool.h"
#include "camera/V4L2Capture.h"

namespace tovak::testing {
namespace {

using camera::V4L2Capture;
using namespace std::chrono_literals;

constexpr std::uint32_t kH264 = V4L2_PIX_FMT_H264;

TEST(CaptureFormatTest, TheSizeNearest640x480ThenTheRateUpTo30ThenTheCheapestFormat) {
    const auto offer = [](std::uint32_t fourcc, int width, int height, std::vector<double> rates) {
        return camera::OfferedFormat{fourcc, width, height, std::move(rates)};
    };
    const struct Row {
        const char* name;
        std::vector<camera::OfferedFormat> offers;
        std::uint32_t fourcc;  // 0: nothing chosen
        int width, height;
        double rate;
    } rows[] = {
        {"nearest size",
         {offer(V4L2_PIX_FMT_YUYV, 320, 240, {30}), offer(V4L2_PIX_FMT_YUYV, 1280, 720, {30}),
          offer(V4L2_PIX_FMT_YUYV, 640, 480, {30})},
         V4L2_PIX_FMT_YUYV,
         640,
         480,
         30},
        {"640x360 is nearer than 800x600",
         {offer(V4L2_PIX_FMT_YUYV, 800, 600, {30}), offer(V4L2_PIX_FMT_YUYV, 640, 360, {30})},
         V4L2_PIX_FMT_YUYV,
         640,
         360,
         30},
        {"size before format",
         {offer(V4L2_PIX_FMT_YUYV, 1280, 720, {30}), offer(V4L2_PIX_FMT_MJPEG, 640, 480, {30})},
         V4L2_PIX_FMT_MJPEG,
         640,
         480,
         30},
        {"YUYV before MJPEG at the same size and rate",
         {offer(V4L2_PIX_FMT_MJPEG, 640, 480, {30}), offer(V4L2_PIX_FMT_YUYV, 640, 480, {30})},
         V4L2_PIX_FMT_YUYV,
         640,
         480,
         30},
        {"rate before format",
         {offer(V4L2_PIX_FMT_YUYV, 640, 480, {15}), offer(V4L2_PIX_FMT_MJPEG, 640, 480, {30, 15})},
         V4L2_PIX_FMT_MJPEG,
         640,
         480,
         30},
        {"capped at 30", {offer(V4L2_PIX_FMT_YUYV, 640, 480, {60, 30, 15})}, V4L2_PIX_FMT_YUYV, 640, 480, 30},
        {"only faster: the slowest", {offer(V4L2_PIX_FMT_YUYV, 640, 480, {90, 60})}, V4L2_PIX_FMT_YUYV, 640, 480, 60},
        {"60 counts as 30 against a cheaper 30",
         {offer(V4L2_PIX_FMT_MJPEG, 640, 480, {60}), offer(V4L2_PIX_FMT_YUYV, 640, 480, {30})},
         V4L2_PIX_FMT_YUYV,
         640,
         480,
         30},
        {"rate untold: left to the driver", {offer(V4L2_PIX_FMT_YUYV, 640, 480, {})}, V4L2_PIX_FMT_YUYV, 640, 480, 0},
        {"converted BGR24 as the last resort",
         {offer(kH264, 640, 480, {30}), offer(V4L2_PIX_FMT_BGR24, 640, 480, {30})},
         V4L2_PIX_FMT_BGR24,
         640,
         480,
         30},
        {"nothing readable", {offer(kH264, 640, 480, {30})}, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<camera::ChosenFormat> chosen = V4L2Capture::chooseFormat(row.offers);
        ASSERT_EQ(chosen.has_value(), row.fourcc != 0);
        if (chosen) {
            EXPECT_EQ(chosen->pixelFormat, row.fourcc);
            EXPECT_EQ(chosen->width, row.width);
            EXPECT_EQ(chosen->height, row.height);
            EXPECT_DOUBLE_EQ(chosen->framesPerSecond, row.rate);
        }
    }
}

// A picture with every hue and brightness in it, and its YUYV and JPEG recordings.
cv::Mat testPicture(int width, int height) {
    cv::Mat bgr(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bgr.at<cv::Vec3b>(y, x) = {static_cast<std::uint8_t>(x * 255 / width),
                                       static_cast<std::uint8_t>(y * 255 / height),
                                       static_cast<std::uint8_t>((x + y) * 255 / (width + height))};
        }
    }
    return bgr;
}

std::vector<std::uint8_t> yuyvOf(int width, int height) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width * height * 2));
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i % 4 == 0 || i % 4 == 2 ? (i / 2 * 7) % 256 : (i * 13 + i / 1000) % 256);
    }
    return frame;
}

// As a webcam sends it, with its Huffman tables or (as many do) without them.
std::vector<std::uint8_t> jpegOf(const cv::Mat& bgr, bool withHuffmanTables) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(bgr.cols);
    info.image_height = static_cast<JDIMENSION>(bgr.rows);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bgr.ptr<std::uint8_t>(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> jpeg(out, out + size);
    std::free(out);
    // Segments are FF marker, then a big-endian length that counts itself; DHT is FF C4.
    for (std::size_t at = 2; !withHuffmanTables && at + 4 < jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
        const std::size_t length = 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
        if (jpeg[at + 1] == 0xC4) {
            jpeg.erase(jpeg.begin() + static_cast<long>(at), jpeg.begin() + static_cast<long>(at + length));
        } else {
            at += length;
        }
    }
    return jpeg;
}

struct Difference {
    double mean = 0;
    double max = 0;
};

Difference differenceOf(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    Difference result;
    result.mean = cv::mean(difference.reshape(1))[0];
    cv::minMaxLoc(difference.reshape(1), nullptr, &result.max);
    return result;
}

TEST(CaptureTest, RecordedYuyvAndMjpegFramesComeOutAsOpaqueBgra) {
    constexpr int width = 64, height = 48;
    const cv::Mat picture = testPicture(width, height);
    cv::Mat pictureBgra;
    cv::cvtColor(picture, pictureBgra, cv::COLOR_BGR2BGRA);
    const std::vector<std::uint8_t> yuyv = yuyvOf(width, height);
    // BT.601 limited range as written down: Y0 U Y1 V, luma below 16 taken as black.
    cv::Mat yuyvReference(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pair = &yuyv[static_cast<std::size_t>((y * width + x / 2 * 2) * 2)];
            const double luma = 1.164 * std::max(0, pair[x % 2 * 2] - 16), u = pair[1] - 128.0, v = pair[3] - 128.0;
            yuyvReference.at<cv::Vec4b>(y, x) = {cv::saturate_cast<std::uint8_t>(luma + 2.018 * u),
                                                 cv::saturate_cast<std::uint8_t>(luma - 0.391 * u - 0.813 * v),
                                                 cv::saturate_cast<std::uint8_t>(luma + 1.596 * v), 255};
        }
    }
    std::vector<std::uint8_t> damaged = jpegOf(picture, true);
    damaged.resize(40);

    const struct Row {
        const char* name;
        std::uint32_t fourcc;
        std::vector<std::uint8_t> frame;
        cv::Mat reference;  // empty: the frame is dropped
        Difference allowed;
    } rows[] = {
        {"YUYV", V4L2_PIX_FMT_YUYV, yuyv, yuyvReference, {0.5, 2}},
        {"MJPEG", V4L2_PIX_FMT_MJPEG, jpegOf(picture, true), pictureBgra, {2, 24}},
        {"MJPEG without Huffman tables", V4L2_PIX_FMT_MJPEG, jpegOf(picture, false), pictureBgra, {2, 24}},
        {"damaged MJPEG", V4L2_PIX_FMT_MJPEG, damaged, {}, {}},
        {"MJPEG of another size", V4L2_PIX_FMT_MJPEG, jpegOf(testPicture(32, 24), true), {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeV4L2 fake;
        fake.formats = {{row.fourcc, {{width, height, {30}}}}};
        fake.frames = {row.frame, yuyv};
        V4L2Capture capture(fake.calls());
        ASSERT_EQ(capture.open("/dev/video0"), V4L2Capture::OpenResult::opened);
        ASSERT_EQ(capture.startStreaming(), 0);
        imaging::PixelBuffer out(width, height);
        const V4L2Capture::ReadResult result = capture.read(out, 1000);
        if (row.reference.empty()) {
            EXPECT_EQ(result, V4L2Capture::ReadResult::dropped);
            // The buffer went back to the driver: the stream goes on.
            EXPECT_NE(capture.read(out, 1000), V4L2Capture::ReadResult::failed);
            continue;
        }
        ASSERT_EQ(result, V4L2Capture::ReadResult::frame);
        const Difference difference = differenceOf(out.mat(), row.reference);
        EXPECT_LE(difference.mean, row.allowed.mean);
        EXPECT_LE(difference.max, row.allowed.max);
        std::vector<cv::Mat> channels;
        cv::split(out.mat(), channels);
        EXPECT_EQ(cv::countNonZero(channels[3] != 255), 0) << "opaque";
    }
}

TEST(CaptureTest, RefusalsAreToldApartAndWhatWasTakenIsGivenBack) {
    const struct Row {
        const char* name;
        int FakeV4L2::*error;
        int value;
        V4L2Capture::OpenResult result;
    } rows[] = {
        {"EACCES at open", &FakeV4L2::openError, EACCES, V4L2Capture::OpenResult::noAccess},
        {"EPERM at open", &FakeV4L2::openError, EPERM, V4L2Capture::OpenResult::noAccess},
        {"ENOENT at open", &FakeV4L2::openError, ENOENT, V4L2Capture::OpenResult::failed},
        {"EBUSY at the format", &FakeV4L2::formatError, EBUSY, V4L2Capture::OpenResult::busy},
        {"EINVAL at the format", &FakeV4L2::formatError, EINVAL, V4L2Capture::OpenResult::failed},
        {"EBUSY at the buffers", &FakeV4L2::buffersError, EBUSY, V4L2Capture::OpenResult::busy},
        {"ENOMEM at the buffers", &FakeV4L2::buffersError, ENOMEM, V4L2Capture::OpenResult::failed},
        {"no format Tovak reads", &FakeV4L2::openError, 0, V4L2Capture::OpenResult::failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeV4L2 fake;
        fake.*row.error = row.value;
        if (row.value == 0) {
            fake.formats = {{kH264, {{640, 480, {30}}}}};
        }
        V4L2Capture capture(fake.calls());
        EXPECT_EQ(capture.open("/dev/video0"), row.result);
        EXPECT_FALSE(capture.isOpen());
        EXPECT_FALSE(capture.failure().empty());
        EXPECT_TRUE(fake.mapped.empty());
        const std::vector<std::string> log = fake.takeLog();
        if (row.error != &FakeV4L2::openError || row.value == 0) {
            EXPECT_EQ(log.back(), "close");
        }
    }
}

TEST(CaptureTest, AStopEndsAWaitAndGivingUpStopsUnmapsReleasesAndCloses) {
    FakeV4L2 fake;
    fake.frames = {yuyvOf(640, 480)};
    V4L2Capture capture(fake.calls());
    ASSERT_EQ(capture.open("/dev/video0"), V4L2Capture::OpenResult::opened);
    EXPECT_EQ(fake.takeLog(), (std::vector<std::string>{"open", "S_FMT", "REQBUFS 4"}));
    EXPECT_EQ(fake.mapped.size(), 4U);
    ASSERT_EQ(capture.startStreaming(), 0);
    imaging::PixelBuffer out(640, 480);
    ASSERT_EQ(capture.read(out, 1000), V4L2Capture::ReadResult::frame);

    // No frame comes: the wait lasts until the stop, however long its timeout.
    auto waiting = std::async(std::launch::async, [&] { return capture.read(out, 60'000); });
    std::this_thread::sleep_for(50ms);
    capture.requestStop();
    ASSERT_EQ(waiting.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), V4L2Capture::ReadResult::stopped);

    capture.close();
    EXPECT_EQ(fake.takeLog(), (std::vector<std::string>{"STREAMON", "STREAMOFF", "munmap", "munmap", "munmap", "munmap",
                                                        "REQBUFS 0", "close"}));
    EXPECT_TRUE(fake.mapped.empty());
    EXPECT_FALSE(capture.isOpen());
}

TEST(FramePoolTest, AFrameComesBackWhenItsLastHolderLetsGo) {
    auto pool = camera::FramePool::make();
    imaging::PixelBufferPtr held;
    for (int frame = 0; frame < 100; ++frame) {
        // The engine keeps the newest until the next one arrives.
        held = pool->share(pool->take(64, 48));
    }
    EXPECT_LE(pool->allocated(), 2U);
    std::unique_ptr<imaging::PixelBuffer> other = pool->take(32, 24);
    EXPECT_EQ(other->width(), 32);
    EXPECT_EQ(pool->allocated(), 3U);
    pool.reset();
    held.reset();  // after the pool: freed, not given back
}

}  // namespace
}  // namespace tovak::testing
