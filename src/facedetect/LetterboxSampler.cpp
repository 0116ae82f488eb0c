#include "facedetect/LetterboxSampler.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace tovak::facedetect {

LetterboxSampler::LetterboxSampler(int inputSize) : inputSize_(inputSize), wide_(__builtin_cpu_supports("avx512f")) {
    // The network wants levels 0 to 255 as -1 to 1.
    for (int level = 0; level < 256; ++level) {
        levels_[level] = std::fma(static_cast<float>(level), static_cast<float>(1.0 / 127.5), -1.0F);
        levelsBf16_[level] = toBf16(levels_[level]);
    }
}

LetterboxSampler::Axis LetterboxSampler::axisFor(int sourceLength, int targetLength) {
    Axis axis;
    axis.spans.resize(static_cast<std::size_t>(targetLength));
    const double inverse = static_cast<double>(targetLength) / sourceLength;
    const double scale = 1.0 / inverse;
    const auto add = [&axis](Span& span, int source, double weight) {
        if (span.count == 0) {
            span.first = source;
        }
        ++span.count;
        axis.weights.push_back(static_cast<float>(weight));
    };
    for (int target = 0; target < targetLength; ++target) {
        Span& span = axis.spans[static_cast<std::size_t>(target)];
        span.weightsAt = static_cast<int>(axis.weights.size());
        if (scale >= 1) {
            // Shrinking: every source pixel under the target pixel's cell, by the share it covers.
            const double from = target * scale;
            const double to = from + scale;
            const double cell = std::min(scale, sourceLength - from);
            int first = static_cast<int>(std::ceil(from));
            const int last = std::min(static_cast<int>(std::floor(to)), sourceLength - 1);
            first = std::min(first, last);
            if (first - from > 1e-3) {
                add(span, first - 1, (first - from) / cell);
            }
            for (int source = first; source < last; ++source) {
                add(span, source, 1.0 / cell);
            }
            if (to - last > 1e-3) {
                add(span, last, std::min(std::min(to - last, 1.0), cell) / cell);
            }
        } else {
            // Enlarging: between the two nearest source pixels.
            int source = static_cast<int>(std::floor(target * scale));
            double fraction = (target + 1) - (source + 1) * inverse;
            fraction = fraction <= 0 ? 0 : fraction - std::floor(fraction);
            if (source >= sourceLength - 1) {
                source = sourceLength - 1;
                fraction = 0;
            }
            add(span, source, 1 - fraction);
            if (fraction > 0) {
                add(span, source + 1, fraction);
            }
        }
    }
    return axis;
}

void LetterboxSampler::prepare(int cols, int rows, int channels) {
    cols_ = cols;
    rows_ = rows;
    channels_ = channels;
    box_ = letterboxFor(cols, rows, inputSize_);
    across_ = axisFor(cols, box_.width);
    down_ = axisFor(rows, box_.height);
    column_.assign(static_cast<std::size_t>(cols) * channels, 0.0F);
    // Four output pixels at a time, each with the same number of taps: a pixel with fewer repeats
    // its last source pixel at weight 0, which leaves its sum as it was.
    quadTaps_ = 0;
    for (const Span& span : across_.spans) {
        quadTaps_ = std::max(quadTaps_, span.count);
    }
    const std::size_t quads = across_.spans.size() / 4;
    quadOffsets_.assign(quads * static_cast<std::size_t>(quadTaps_) * 4, 0);
    quadWeights_.assign(quads * static_cast<std::size_t>(quadTaps_) * 16, 0.0F);
    for (std::size_t quad = 0; quad < quads; ++quad) {
        for (int k = 0; k < quadTaps_; ++k) {
            const std::size_t at = quad * static_cast<std::size_t>(quadTaps_) + static_cast<std::size_t>(k);
            for (std::size_t j = 0; j < 4; ++j) {
                const Span& span = across_.spans[quad * 4 + j];
                const int tap = std::min(k, span.count - 1);
                quadOffsets_[at * 4 + j] = (span.first + tap) * channels;
                const float weight =
                    k < span.count ? across_.weights[static_cast<std::size_t>(span.weightsAt + k)] : 0.0F;
                std::fill_n(quadWeights_.begin() + static_cast<std::ptrdiff_t>(at * 16 + j * 4), 4, weight);
            }
        }
    }
}

namespace {

// sum = weight x row, or sum += weight x row: the rows under one output row, blended down the
// picture first so that the sideways pass runs once per output row. Blocks of a fixed length, so
// that the compiler turns them into vector instructions.
void blendRow(float* __restrict sum, const std::uint8_t* __restrict row, float weight, std::size_t count, bool first) {
    constexpr std::size_t block = 16;
    std::size_t i = 0;
    if (first) {
        for (; i + block <= count; i += block) {
            for (std::size_t j = i; j < i + block; ++j) {
                sum[j] = weight * static_cast<float>(row[j]);
            }
        }
        for (; i < count; ++i) {
            sum[i] = weight * static_cast<float>(row[i]);
        }
    } else {
        for (; i + block <= count; i += block) {
            for (std::size_t j = i; j < i + block; ++j) {
                sum[j] += weight * static_cast<float>(row[j]);
            }
        }
        for (; i < count; ++i) {
            sum[i] += weight * static_cast<float>(row[i]);
        }
    }
}

// The zero-masking forms of the intrinsics, with every lane kept: GCC 12 takes the plain forms'
// undefined inputs for uninitialised use.
constexpr __mmask16 all = 0xffff;

// The same, 16 levels per instruction where the CPU has AVX-512 (the compiler keeps to narrower
// vectors on its own). A multiply and an add, not a fused one, so the sums match the blend above to
// the bit.
[[gnu::target("avx512f")]] void blendRowAvx512(float* sum, const std::uint8_t* row, float weight, std::size_t count,
                                               bool first) {
    const __m512 scale = _mm512_set1_ps(weight);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m512 levels = _mm512_maskz_cvtepi32_ps(all, _mm512_maskz_cvtepu8_epi32(all, bytes));
        const __m512 product = _mm512_mul_ps(scale, levels);
        _mm512_storeu_ps(sum + i, first ? product : _mm512_add_ps(product, _mm512_loadu_ps(sum + i)));
    }
    // Back to the narrower registers' state before the code compiled for them runs.
    _mm256_zeroupper();
    blendRow(sum + i, row + i, weight, count - i, first);
}

int level(float value) {
    return std::clamp(static_cast<int>(value + 0.5F), 0, 255);
}

}  // namespace

template <int Channels, typename T>
void LetterboxSampler::sampleAcross(T* out, std::size_t from, const T* levels) const {
    const float* weights = across_.weights.data();
    for (std::size_t i = from; i < across_.spans.size(); ++i) {
        const Span& span = across_.spans[i];
        const float* pixel = column_.data() + static_cast<std::ptrdiff_t>(span.first) * Channels;
        const float* weight = weights + span.weightsAt;
        // All the channels of a pixel at once, alpha too when there is one: four lanes of one
        // vector instruction.
        float sum[Channels] = {};
        for (int k = 0; k < span.count; ++k, pixel += Channels) {
            for (int c = 0; c < Channels; ++c) {
                sum[c] += weight[k] * pixel[c];
            }
        }
        const float blue = sum[0];
        const float green = sum[Channels >= 3 ? 1 : 0];
        const float red = sum[Channels >= 3 ? 2 : 0];
        out[0] = levels[level(red)];
        out[1] = levels[level(green)];
        out[2] = levels[level(blue)];
        out += 3;
    }
}

// BGRA columns, four output pixels per instruction where the CPU has AVX-512. The same products
// and sums in the same order as above, and the same levels: the values match to the bit, and so
// do the bf16 ones, rounded from them as toBf16 does.
template <typename T>
[[gnu::target("avx512f")]] void LetterboxSampler::sampleAcrossAvx512(T* out) const {
    const __m512 half = _mm512_set1_ps(0.5F);
    const __m512 step = _mm512_set1_ps(static_cast<float>(1.0 / 127.5));
    const __m512 minusOne = _mm512_set1_ps(-1.0F);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i top = _mm512_set1_epi32(255);
    const __m512i roundingBias = _mm512_set1_epi32(0x7fff);
    const __m512i one = _mm512_set1_epi32(1);
    // Four BGRA pixels to four RGB ones: twelve lanes.
    const __m512i order = _mm512_setr_epi32(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 0, 0, 0, 0);
    const float* column = column_.data();
    const int* offsets = quadOffsets_.data();
    const float* weights = quadWeights_.data();
    const std::size_t quads = across_.spans.size() / 4;
    for (std::size_t quad = 0; quad < quads; ++quad, out += 12) {
        __m512 sum = _mm512_setzero_ps();
        for (int k = 0; k < quadTaps_; ++k, offsets += 4, weights += 16) {
            __m512 pixels = _mm512_maskz_broadcast_f32x4(all, _mm_loadu_ps(column + offsets[0]));
            pixels = _mm512_insertf32x4(pixels, _mm_loadu_ps(column + offsets[1]), 1);
            pixels = _mm512_insertf32x4(pixels, _mm_loadu_ps(column + offsets[2]), 2);
            pixels = _mm512_insertf32x4(pixels, _mm_loadu_ps(column + offsets[3]), 3);
            sum = _mm512_add_ps(sum, _mm512_mul_ps(_mm512_loadu_ps(weights), pixels));
        }
        __m512i levels = _mm512_maskz_cvttps_epi32(all, _mm512_add_ps(sum, half));
        levels = _mm512_maskz_min_epi32(all, _mm512_maskz_max_epi32(all, levels, zero), top);
        const __m512 values = _mm512_maskz_permutexvar_ps(
            all, order, _mm512_fmadd_ps(_mm512_maskz_cvtepi32_ps(all, levels), step, minusOne));
        if constexpr (std::is_same_v<T, float>) {
            _mm512_mask_storeu_ps(out, 0x0fff, values);
        } else {
            const __m512i bits = _mm512_castps_si512(values);
            const __m512i odd = _mm512_and_si512(_mm512_maskz_srli_epi32(all, bits, 16), one);
            const __m512i rounded =
                _mm512_maskz_srli_epi32(all, _mm512_add_epi32(_mm512_add_epi32(bits, roundingBias), odd), 16);
            _mm512_mask_cvtepi32_storeu_epi16(out, 0x0fff, rounded);
        }
    }
    // Back to the narrower registers' state before the code compiled for them runs.
    _mm256_zeroupper();
    if constexpr (std::is_same_v<T, float>) {
        sampleAcross<4>(out, quads * 4, levels_);
    } else {
        sampleAcross<4>(out, quads * 4, levelsBf16_);
    }
}

template <typename T>
void LetterboxSampler::fillRows(T* input, const std::uint8_t* pixels, std::size_t stride, const T* levels) {
    const auto blend = wide_ ? blendRowAvx512 : blendRow;
    // Black bars around the picture.
    const T black = levels[0];
    const std::size_t inputRow = static_cast<std::size_t>(inputSize_) * 3;
    const std::size_t left = static_cast<std::size_t>(box_.left) * 3;
    const std::size_t right = left + static_cast<std::size_t>(box_.width) * 3;
    std::fill(input, input + static_cast<std::size_t>(box_.top) * inputRow, black);
    std::fill(input + static_cast<std::size_t>(box_.top + box_.height) * inputRow,
              input + static_cast<std::size_t>(inputSize_) * inputRow, black);
    for (int y = 0; y < box_.height; ++y) {
        T* out = input + static_cast<std::size_t>(box_.top + y) * inputRow;
        std::fill(out, out + left, black);
        std::fill(out + right, out + inputRow, black);
        const Span& span = down_.spans[static_cast<std::size_t>(y)];
        for (int k = 0; k < span.count; ++k) {
            blend(column_.data(), pixels + static_cast<std::size_t>(span.first + k) * stride,
                  down_.weights[static_cast<std::size_t>(span.weightsAt + k)], column_.size(), k == 0);
        }
        if (channels_ == 4 && wide_) {
            sampleAcrossAvx512(out + left);
        } else if (channels_ == 4) {
            sampleAcross<4>(out + left, 0, levels);
        } else if (channels_ == 3) {
            sampleAcross<3>(out + left, 0, levels);
        } else {
            sampleAcross<1>(out + left, 0, levels);
        }
    }
}

Letterbox LetterboxSampler::fill(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels,
                                 void* input, InputFormat format) {
    if (cols != cols_ || rows != rows_ || channels != channels_) {
        prepare(cols, rows, channels);
    }
    if (format == InputFormat::bf16) {
        fillRows(static_cast<std::uint16_t*>(input), pixels, stride, levelsBf16_);
    } else {
        fillRows(static_cast<float*>(input), pixels, stride, levels_);
    }
    return box_;
}

}  // namespace tovak::facedetect
