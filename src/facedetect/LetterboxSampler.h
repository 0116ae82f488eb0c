#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "facedetect/BlazeFaceDecoding.h"

namespace tovak::facedetect {

// Writes a camera picture straight into the network's input: letterboxed, RGB, in [-1, 1], without
// the resized, converted and float pictures a resize, a colour conversion and a conversion to
// floats would each make. Shrinking averages the area each input pixel covers and enlarging
// interpolates, as OpenCV's INTER_AREA resize does, rounded to whole levels as an 8-bit resize is,
// so the network sees what it saw through those steps. The tables depend only on the picture's
// size: they are built for the first frame and again only when the size changes.
class LetterboxSampler {
  public:
    explicit LetterboxSampler(int inputSize);

    // pixels: rows of 8-bit BGRA (channels 4), BGR (3) or grey (1), stride bytes apart; input:
    // inputSize x inputSize x 3 floats. Returns where the picture landed.
    Letterbox fill(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels, float* input);

  private:
    // Which source pixels make one output pixel, with their weights.
    struct Span {
        int first = 0;
        int count = 0;
        int weightsAt = 0;
    };
    struct Axis {
        std::vector<Span> spans;
        std::vector<float> weights;
    };
    static Axis axisFor(int sourceLength, int targetLength);
    void prepare(int cols, int rows, int channels);
    // One output row from the blended column_, as network values, from the output pixel given on.
    template <int Channels>
    void sampleAcross(float* out, std::size_t from) const;
    void sampleAcrossAvx512(float* out) const;

    int inputSize_;
    int cols_ = 0;
    int rows_ = 0;
    int channels_ = 0;
    Letterbox box_;
    Axis across_;
    Axis down_;
    // The source rows under one output row, blended: cols x channels.
    std::vector<float> column_;
    // The sideways taps of four output pixels at a time: per tap, four offsets into column_ and
    // sixteen weights (each pixel's, once per channel).
    int quadTaps_ = 0;
    std::vector<int> quadOffsets_;
    std::vector<float> quadWeights_;
    float levels_[256];
};

}  // namespace tovak::facedetect
