#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/Geometry.h"

namespace tovak::facedetect {

// Decides whether a camera frame must go through the face network or may reuse the faces of the
// last frame that did. The picture is reduced to a small grid of grey block means; each block
// learns its own sensor noise while watching (the median of its frame-to-frame change, never taken
// as less than noiseFloor), and is compared with the same block in the last detected frame after
// the picture's common brightness shift is taken out. A change beyond the block's noise, tighter
// around the faces last found, a shift of the whole picture's brightness (an exposure step), or a
// detection older than maxAgeSeconds sends the frame to the network. Buffers are sized once.
class ChangeTest {
  public:
    struct Settings {
        int gridCols = 80;
        int gridRows = 60;
        // The least noise a block is credited with, in grey levels of its mean.
        float noiseFloor = 2.0F;
        // How many times its noise (the median of its frame-to-frame change) a block may differ
        // before it counts as changed.
        float noiseFactor = 5.0F;
        // The same near the faces last found: a face turning or leaning in changes little at first.
        float faceNoiseFactor = 4.0F;
        // A common brightness shift (grey levels) beyond which the whole picture counts as changed.
        float lightStep = 6.0F;
        // The longest a face list is reused, in seconds of the frames' clock.
        double maxAgeSeconds = 0.32;
        // How far around a known face its tighter rule reaches, in face widths and heights.
        double faceMargin = 0.5;
    };
    static constexpr std::size_t maxKnownFaces = 8;

    ChangeTest();
    explicit ChangeTest(const Settings& settings);

    // pixels: rows of 8-bit BGRA (channels 4), BGR (3) or grey (1), stride bytes apart, taken at
    // `now` seconds. True when this frame must be detected in full.
    bool needsDetection(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels, double now);

    // The frame last given was detected in full and found these faces: normalised boxes, origin at
    // the top left of that frame's pixels. It becomes the picture later frames are compared with.
    void detected(const std::vector<imaging::Rect>& faces);
    // The frame last given could not be detected: the next one is detected in full.
    void forget();

  private:
    void reduce(const std::uint8_t* pixels, int cols, int rows, std::size_t stride, int channels);
    void learnNoise();
    float medianShift(const std::vector<float>& from, const std::vector<float>& to);
    bool changedBlocks(float shift);
    [[nodiscard]] bool nearKnownFace(int col, int row) const;

    Settings settings_;
    std::size_t blocks_;
    std::vector<float> current_;
    std::vector<float> previous_;
    std::vector<float> reference_;
    std::vector<float> noise_;
    std::vector<float> scratch_;
    std::vector<std::uint8_t> exceeded_;
    // The first pixel column of each grid column, and the end of the last.
    std::vector<int> columnBounds_;
    int cols_ = 0;
    int rows_ = 0;
    bool havePrevious_ = false;
    bool haveReference_ = false;
    double referenceTime_ = 0;
    double frameTime_ = 0;
    // Grid blocks of the faces last found, as [first col, end col) x [first row, end row).
    struct BlockSpan {
        int col0 = 0;
        int col1 = 0;
        int row0 = 0;
        int row1 = 0;
    };
    std::array<BlockSpan, maxKnownFaces> faces_{};
    std::size_t faceCount_ = 0;
    // More faces than kept: every block gets the tighter rule.
    bool crowded_ = false;
};

}  // namespace tovak::facedetect
