#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "facedetect/BlazeFaceDecoding.h"
#include "facedetect/InputFormat.h"

namespace tovak::facedetect {

// Writes a camera picture straight into the network's input: letterboxed, RGB, in [-1, 1], without
// the resized, converted and float pictures a resize, a colour conversion and a conversion to
// floats would each make. Shrinking averages the area each input pixel covers and enlarging
// interpolates, as OpenCV's INTER_AREA resize does, rounded to whole levels as an 8-bit resize is,
// so the network sees what it saw through those steps. The values are written in the network's
// own input type. The tables depend only on the picture's size and that type: they are built for
// the first frame and again only when either changes.
class LetterboxSampler {
  public:
    explicit LetterboxSampler(int inputSize);

    // pixels: rows of 8-bit BGRA (channels 4), BGR (3) or grey (1), stride bytes apart; input:
    // inputSize x inputSize x 3 values in format. Returns where the picture landed.
    Letterbox fill(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels, void* input,
                   InputFormat format = InputFormat::f32);

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
    // One output row from the blended column_, as network values (levels looked up in levels,
    // f32 or bf16 bits), from the output pixel given on.
    template <int Channels, typename T>
    void sampleAcross(T* out, std::size_t from, const T* levels) const;
    template <typename T>
    void sampleAcrossAvx512(T* out) const;
    template <typename T>
    void fillRows(T* input, const std::uint8_t* pixels, std::size_t stride, const T* levels);

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
    std::uint16_t levelsBf16_[256];
    bool wide_ = false;
};

}  // namespace tovak::facedetect
