#include "facedetect/LetterboxSampler.h"

#include <algorithm>
#include <cmath>

namespace tovak::facedetect {

LetterboxSampler::LetterboxSampler(int inputSize) : inputSize_(inputSize) {
    // The network wants levels 0 to 255 as -1 to 1.
    for (int level = 0; level < 256; ++level) {
        levels_[level] = std::fma(static_cast<float>(level), static_cast<float>(1.0 / 127.5), -1.0F);
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
}

namespace {

// sum = weight x row, or sum += weight x row: the rows under one output row, blended down the
// picture first so that the sideways pass runs once per output row. Blocks of a fixed length, so
// that the compiler turns them into vector instructions.
// Built for AVX-512, AVX2 and the baseline, picked at load for the CPU at hand.
[[gnu::target_clones("avx512f", "avx2", "default")]] void blendRow(float* __restrict sum,
                                                                   const std::uint8_t* __restrict row, float weight,
                                                                   std::size_t count, bool first) {
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

int level(float value) {
    return std::clamp(static_cast<int>(value + 0.5F), 0, 255);
}

}  // namespace

template <int Channels>
void LetterboxSampler::sampleAcross(float* out) const {
    const float* weights = across_.weights.data();
    for (const Span& span : across_.spans) {
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
        out[0] = levels_[level(red)];
        out[1] = levels_[level(green)];
        out[2] = levels_[level(blue)];
        out += 3;
    }
}

Letterbox LetterboxSampler::fill(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels,
                                 float* input) {
    if (cols != cols_ || rows != rows_ || channels != channels_) {
        prepare(cols, rows, channels);
    }
    // Black bars around the picture.
    const float black = levels_[0];
    const std::size_t inputRow = static_cast<std::size_t>(inputSize_) * 3;
    const std::size_t left = static_cast<std::size_t>(box_.left) * 3;
    const std::size_t right = left + static_cast<std::size_t>(box_.width) * 3;
    std::fill(input, input + static_cast<std::size_t>(box_.top) * inputRow, black);
    std::fill(input + static_cast<std::size_t>(box_.top + box_.height) * inputRow,
              input + static_cast<std::size_t>(inputSize_) * inputRow, black);
    for (int y = 0; y < box_.height; ++y) {
        float* out = input + static_cast<std::size_t>(box_.top + y) * inputRow;
        std::fill(out, out + left, black);
        std::fill(out + right, out + inputRow, black);
        const Span& span = down_.spans[static_cast<std::size_t>(y)];
        for (int k = 0; k < span.count; ++k) {
            blendRow(column_.data(), pixels + static_cast<std::size_t>(span.first + k) * stride,
                     down_.weights[static_cast<std::size_t>(span.weightsAt + k)], column_.size(), k == 0);
        }
        if (channels == 4) {
            sampleAcross<4>(out + left);
        } else if (channels == 3) {
            sampleAcross<3>(out + left);
        } else {
            sampleAcross<1>(out + left);
        }
    }
    return box_;
}

}  // namespace tovak::facedetect
