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

// Whether the scores of a picture that does not change sit safely on their side of the threshold.
// A face scoring just over it, or a detection just under it, may come and go with the grain alone,
// so frames near such a score are detected in full; but on a camera without grain, or a patch far
// enough from the threshold, the score hardly moves. This keeps the spread of the last detected
// frames' scores and says when even a frame beyond anything seen so far would keep the same faces.
class ScoreMargin {
  public:
    static constexpr std::size_t window = 30;
    // The least distance to the threshold, beyond the spread seen, that counts as safe.
    static constexpr float margin = 0.02F;

    // A frame detected in full: its face count, its lowest face score (1 without a face) and its
    // highest detection score that did not make a face (0 without one).
    void add(std::size_t faces, float lowestFace, float highestMiss);
    void clear() { count_ = 0; }
    // True when the last `window` frames detected had the same faces count, and the lowest face
    // score seen, less the spread of the lowest scores, and the highest miss seen, plus the spread
    // of the highest misses, are both more than margin from threshold.
    [[nodiscard]] bool settled(float threshold) const;

  private:
    struct Sample {
        std::size_t faces = 0;
        float lowestFace = 1;
        float highestMiss = 0;
    };
    std::array<Sample, window> samples_{};
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

}  // namespace tovak::facedetect
