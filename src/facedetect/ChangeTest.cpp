#include "facedetect/ChangeTest.h"

#include <algorithm>
#include <cmath>

namespace tovak::facedetect {

namespace {

// The noise estimate moves by this fraction towards each new frame-to-frame change: it settles on
// the median change, so a block that sometimes moves does not teach itself to ignore movement.
constexpr float noiseStep = 1.0F / 32.0F;
// A block's noise is never learnt as less than this, so a still block can wake up again.
constexpr float leastNoise = 0.25F;

}  // namespace

ChangeTest::ChangeTest() : ChangeTest(Settings{}) {}

ChangeTest::ChangeTest(const Settings& settings)
    : settings_(settings),
      blocks_(static_cast<std::size_t>(std::max(settings.gridCols, 1)) *
              static_cast<std::size_t>(std::max(settings.gridRows, 1))),
      current_(blocks_),
      previous_(blocks_),
      reference_(blocks_),
      noise_(blocks_, settings.noiseFloor),
      scratch_(blocks_),
      exceeded_(blocks_),
      columnBounds_(static_cast<std::size_t>(std::max(settings.gridCols, 1)) + 1) {}

namespace {

// Adds each grid column's grey samples of one line of pixels to sums: every stepX-th pixel from the
// column's first, grey as (B + 2G + R) / 4 rounded down.
template <int channels, int stepX>
void addLine(const std::uint8_t* line, const int* bounds, int gridCols, float* sums) {
    for (int gridCol = 0; gridCol < gridCols; ++gridCol) {
        unsigned sum = 0;
        const std::uint8_t* p = line + static_cast<std::ptrdiff_t>(bounds[gridCol]) * channels;
        const std::uint8_t* end = line + static_cast<std::ptrdiff_t>(bounds[gridCol + 1]) * channels;
        for (; p < end; p += stepX * channels) {
            if constexpr (channels == 1) {
                sum += *p;
            } else {
                sum += (p[0] + 2U * p[1] + p[2]) >> 2U;
            }
        }
        sums[gridCol] += static_cast<float>(sum);
    }
}

template <int channels>
void addLine(const std::uint8_t* line, const int* bounds, int gridCols, int stepX, float* sums) {
    if (stepX == 2) {
        addLine<channels, 2>(line, bounds, gridCols, sums);
    } else {
        addLine<channels, 1>(line, bounds, gridCols, sums);
    }
}

}  // namespace

void ChangeTest::reduce(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels) {
    const int gridCols = settings_.gridCols;
    const int gridRows = settings_.gridRows;
    // Every second pixel of every fourth row where blocks are 8 pixels or more: means of 8 samples
    // still average the grain down, at an eighth of the reading and half the memory touched.
    const int stepX = cols >= 8 * gridCols ? 2 : 1;
    const int stepY = rows >= 8 * gridRows ? 4 : rows >= 4 * gridRows ? 2 : 1;
    for (int gridCol = 0; gridCol <= gridCols; ++gridCol) {
        columnBounds_[static_cast<std::size_t>(gridCol)] = gridCol * cols / gridCols;
    }
    const int* bounds = columnBounds_.data();
    for (int gridRow = 0; gridRow < gridRows; ++gridRow) {
        const int row0 = gridRow * rows / gridRows;
        const int row1 = (gridRow + 1) * rows / gridRows;
        float* sums = current_.data() + static_cast<std::size_t>(gridRow) * static_cast<std::size_t>(gridCols);
        std::fill(sums, sums + gridCols, 0.0F);
        int sampledRows = 0;
        for (int y = row0; y < row1; y += stepY, ++sampledRows) {
            const std::uint8_t* line = pixels + static_cast<std::size_t>(y) * stride;
            if (channels == 4) {
                addLine<4>(line, bounds, gridCols, stepX, sums);
            } else if (channels == 3) {
                addLine<3>(line, bounds, gridCols, stepX, sums);
            } else {
                addLine<1>(line, bounds, gridCols, stepX, sums);
            }
        }
        for (int gridCol = 0; gridCol < gridCols; ++gridCol) {
            const int width = bounds[gridCol + 1] - bounds[gridCol];
            const int samples = ((width + stepX - 1) / stepX) * sampledRows;
            sums[gridCol] /= static_cast<float>(std::max(samples, 1));
        }
    }
}

// The median over every third block: a thousand and more changes tell the common shift as well as
// all of them, in a third of the sorting.
float ChangeTest::medianShift(const std::vector<float>& from, const std::vector<float>& to) {
    const std::size_t step = blocks_ >= 3000 ? 3 : 1;
    std::size_t count = 0;
    for (std::size_t i = 0; i < blocks_; i += step) {
        scratch_[count++] = to[i] - from[i];
    }
    const auto end = scratch_.begin() + static_cast<std::ptrdiff_t>(count);
    const auto middle = scratch_.begin() + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(scratch_.begin(), middle, end);
    return *middle;
}

void ChangeTest::learnNoise() {
    const float shift = medianShift(previous_, current_);
    for (std::size_t i = 0; i < blocks_; ++i) {
        const float change = std::fabs(current_[i] - previous_[i] - shift);
        noise_[i] *= change > noise_[i] ? 1.0F + noiseStep : 1.0F - noiseStep;
        noise_[i] = std::max(noise_[i], leastNoise);
    }
}

bool ChangeTest::nearKnownFace(int col, int row) const {
    if (crowded_) {
        return true;
    }
    for (std::size_t i = 0; i < faceCount_; ++i) {
        const BlockSpan& face = faces_[i];
        if (col >= face.col0 && col < face.col1 && row >= face.row0 && row < face.row1) {
            return true;
        }
    }
    return false;
}

// A block past its allowance counts only beside another one, or past twice its allowance alone: with
// thousands of blocks a single one crosses a few noise widths now and then, while anything the size
// of a face moves several blocks at once.
bool ChangeTest::changedBlocks(float shift) {
    const int gridCols = settings_.gridCols;
    for (int row = 0; row < settings_.gridRows; ++row) {
        for (int col = 0; col < gridCols; ++col) {
            const std::size_t i =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(gridCols) + static_cast<std::size_t>(col);
            const float factor = nearKnownFace(col, row) ? settings_.faceNoiseFactor : settings_.noiseFactor;
            const float allowed = factor * std::max(noise_[i], settings_.noiseFloor);
            const float change = std::fabs(current_[i] - reference_[i] - shift);
            const std::uint8_t level = change > 2 * allowed ? 2 : change > allowed ? 1 : 0;
            if (level == 2 || (level == 1 && ((col > 0 && exceeded_[i - 1] != 0) ||
                                              (row > 0 && exceeded_[i - static_cast<std::size_t>(gridCols)] != 0)))) {
                return true;
            }
            exceeded_[i] = level;
        }
    }
    return false;
}

bool ChangeTest::needsDetection(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels,
                                double now) {
    frameTime_ = now;
    if (pixels == nullptr || cols < settings_.gridCols || rows < settings_.gridRows ||
        (channels != 1 && channels != 3 && channels != 4)) {
        havePrevious_ = false;
        haveReference_ = false;
        return true;
    }
    if (cols != cols_ || rows != rows_) {
        // Another picture size: another camera or mode, whose noise is yet to be learnt.
        cols_ = cols;
        rows_ = rows;
        havePrevious_ = false;
        haveReference_ = false;
        std::fill(noise_.begin(), noise_.end(), settings_.noiseFloor);
    }
    reduce(pixels, cols, rows, stride, channels);
    if (havePrevious_) {
        learnNoise();
    }
    bool changed = !haveReference_ || now - referenceTime_ >= settings_.maxAgeSeconds || now < referenceTime_;
    if (!changed) {
        const float shift = medianShift(reference_, current_);
        changed = std::fabs(shift) > settings_.lightStep || changedBlocks(shift);
    }
    std::swap(previous_, current_);
    havePrevious_ = true;
    return changed;
}

void ChangeTest::detected(const std::vector<imaging::Rect>& faces) {
    if (!havePrevious_) {
        return;
    }
    std::copy(previous_.begin(), previous_.end(), reference_.begin());
    haveReference_ = true;
    referenceTime_ = frameTime_;
    crowded_ = faces.size() > maxKnownFaces;
    faceCount_ = std::min(faces.size(), maxKnownFaces);
    const auto toBlock = [](double fraction, int count) {
        return std::clamp(static_cast<int>(std::floor(fraction * count)), 0, count);
    };
    for (std::size_t i = 0; i < faceCount_; ++i) {
        const imaging::Rect& box = faces[i];
        const double marginX = box.width * settings_.faceMargin;
        const double marginY = box.height * settings_.faceMargin;
        BlockSpan& span = faces_[i];
        span.col0 = toBlock(box.x - marginX, settings_.gridCols);
        span.col1 = toBlock(box.maxX() + marginX, settings_.gridCols) + 1;
        span.row0 = toBlock(box.y - marginY, settings_.gridRows);
        span.row1 = toBlock(box.maxY() + marginY, settings_.gridRows) + 1;
    }
}

void ChangeTest::forget() {
    haveReference_ = false;
}

void ScoreMargin::add(std::size_t faces, float lowestFace, float highestMiss) {
    samples_[next_] = {faces, lowestFace, highestMiss};
    next_ = (next_ + 1) % window;
    count_ = std::min(count_ + 1, window);
}

bool ScoreMargin::settled(float threshold) const {
    if (count_ < window) {
        return false;
    }
    float lowMin = 1, lowMax = 0, missMin = 1, missMax = 0;
    for (const Sample& sample : samples_) {
        if (sample.faces != samples_.front().faces) {
            return false;
        }
        lowMin = std::min(lowMin, sample.lowestFace);
        lowMax = std::max(lowMax, sample.lowestFace);
        missMin = std::min(missMin, sample.highestMiss);
        missMax = std::max(missMax, sample.highestMiss);
    }
    return lowMin - (lowMax - lowMin) > threshold + margin && missMax + (missMax - missMin) < threshold - margin;
}

}  // namespace tovak::facedetect
