#include "imaging/Resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <opencv2/core/hal/intrin.hpp>
#include <system_error>
#include <thread>
#include <vector>

namespace tovak::imaging {

namespace {

// One source coordinate per destination index along an axis: the two neighbouring source indices
// (clamped to the source, so edges replicate) and the weight of the second in 1/256ths.
struct Tap {
    int first;
    int second;
    int weight;
};

std::vector<Tap> tapsFor(int destinationLength, int sourceLength, double scale, double offset, int firstIndex) {
    std::vector<Tap> taps(static_cast<std::size_t>(destinationLength));
    for (int i = 0; i < destinationLength; ++i) {
        const double u = std::clamp((i + firstIndex - offset) / scale, 0.0, static_cast<double>(sourceLength - 1));
        const int first = static_cast<int>(u);
        const int weight = static_cast<int>(std::lround((u - first) * 256));
        taps[static_cast<std::size_t>(i)] = {first, std::min(first + 1, sourceLength - 1), weight};
    }
    return taps;
}

// Four bytes spread into the four 16-bit lanes of a word, in memory order on a little-endian CPU.
static_assert(std::endian::native == std::endian::little, "the lane layout below assumes little-endian");
std::uint64_t spreadBytes(const std::uint8_t* pixel) {
    std::uint32_t packed = 0;
    std::memcpy(&packed, pixel, sizeof packed);
    std::uint64_t x = packed;
    x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
    return (x | (x << 8)) & 0x00FF00FF00FF00FFull;
}

// One source row blended across: all four channels at once, one per 16-bit lane, each lane holding
// value * 256 (at most 255 * 256).
void blendAcross(const std::uint8_t* in, const std::vector<Tap>& columns, std::uint16_t* out) {
    for (std::size_t x = 0; x < columns.size(); ++x) {
        const Tap& t = columns[x];
        const std::uint64_t blended = spreadBytes(in + t.first * 4) * static_cast<std::uint64_t>(256 - t.weight) +
                                      spreadBytes(in + t.second * 4) * static_cast<std::uint64_t>(t.weight);
        std::memcpy(out + x * 4, &blended, sizeof blended);
    }
}

// Two blended rows mixed down into one output row. Rows hold value * 256; mulhi by weight * 256
// brings each term back to value * weight, all in 16-bit lanes (weight 256 is stored as 65535,
// which the rounding absorbs).
void blendDown(const std::uint16_t* a, const std::uint16_t* b, int weight, std::uint8_t* o, int width) {
    const auto scaled = [](int w) { return static_cast<std::uint16_t>(std::min(w * 256, 65535)); };
    const std::uint16_t wa = scaled(256 - weight);
    const std::uint16_t wb = scaled(weight);
    int i = 0;
#if CV_SIMD128
    const cv::v_uint16x8 va = cv::v_setall_u16(wa);
    const cv::v_uint16x8 vb = cv::v_setall_u16(wb);
    const cv::v_uint16x8 half = cv::v_setall_u16(128);
    for (; i + 16 <= width; i += 16) {
        const cv::v_uint16x8 r0 =
            (cv::v_mul_hi(cv::v_load(a + i), va) + cv::v_mul_hi(cv::v_load(b + i), vb) + half) >> 8;
        const cv::v_uint16x8 r1 =
            (cv::v_mul_hi(cv::v_load(a + i + 8), va) + cv::v_mul_hi(cv::v_load(b + i + 8), vb) + half) >> 8;
        cv::v_store(o + i, cv::v_pack(r0, r1));
    }
#endif
    for (; i < width; ++i) {
        const std::uint32_t upperTerm = std::uint32_t{a[i]} * wa >> 16;
        const std::uint32_t lowerTerm = std::uint32_t{b[i]} * wb >> 16;
        o[i] = static_cast<std::uint8_t>((upperTerm + lowerTerm + 128) >> 8);
    }
}

// The output rows of range, each source row blended across once even when two output rows share it.
void resampleRows(const cv::Mat& src, cv::Mat& dst, const std::vector<Tap>& columns, const std::vector<Tap>& rows,
                  const cv::Range& range) {
    const int width = dst.cols * 4;
    std::vector<std::uint16_t> upper(static_cast<std::size_t>(width));
    std::vector<std::uint16_t> lower(static_cast<std::size_t>(width));
    int upperRow = -1;
    int lowerRow = -1;
    for (int y = range.start; y < range.end; ++y) {
        const Tap& t = rows[static_cast<std::size_t>(y)];
        if (t.first != upperRow) {
            if (t.first == lowerRow) {
                std::swap(upper, lower);
                std::swap(upperRow, lowerRow);
            } else {
                blendAcross(src.ptr<std::uint8_t>(t.first), columns, upper.data());
                upperRow = t.first;
            }
        }
        if (t.second != lowerRow) {
            blendAcross(src.ptr<std::uint8_t>(t.second), columns, lower.data());
            lowerRow = t.second;
        }
        blendDown(upper.data(), lower.data(), t.weight, dst.ptr<std::uint8_t>(y), width);
    }
}

}  // namespace

// The transform is a pure scale and shift, so the filter is separable: rows are blended horizontally
// once each, then pairs of those rows vertically, which is several times cheaper than a general warp
// at full-screen sizes.
void resampleBilinear(const cv::Mat& src, cv::Mat& dst, double kx, double ky, double offsetX, double offsetY,
                      int firstRow) {
    const auto columns = tapsFor(dst.cols, src.cols, kx, offsetX, 0);
    const auto rows = tapsFor(dst.rows, src.rows, ky, offsetY, firstRow);
    const auto body = [&](const cv::Range& range) { resampleRows(src, dst, columns, rows, range); };
    // Below this a second thread costs more than it saves; above it the rows are split between the
    // calling thread and helpers of its own (joined here, so the sanitizers see every hand-over).
    const int parts =
        dst.total() < 256 * 1024 ? 1 : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    std::vector<std::thread> helpers;
    for (int part = 1; part < parts; ++part) {
        const cv::Range share(dst.rows * part / parts, dst.rows * (part + 1) / parts);
        try {
            helpers.emplace_back(body, share);
        } catch (const std::system_error&) {
            body(share);  // no thread to be had: do the part here
        }
    }
    body(cv::Range(0, dst.rows / parts));
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

}  // namespace tovak::imaging
