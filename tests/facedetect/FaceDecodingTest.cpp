#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "facedetect/BlazeFaceDecoding.h"

namespace tovak::testing {
namespace {

using facedetect::Letterbox;

TEST(FaceDecodingTest, LetterboxKeepsProportionsAndCentresThePicture) {
    // Frames of a camera, letterboxed into the 256 px square input.
    const std::tuple<const char*, int, int, Letterbox> rows[] = {
        {"wide camera frame", 640, 480, {0.4, 256, 192, 0, 32}},
        {"portrait frame", 480, 640, {0.4, 192, 256, 32, 0}},
        {"odd bar: the extra row goes below", 640, 477, {256.0 / 640, 256, 191, 0, 32}},
    };
    for (const auto& [name, cols, frameRows, expected] : rows) {
        SCOPED_TRACE(name);
        const Letterbox box = facedetect::letterboxFor(cols, frameRows, 256);
        EXPECT_DOUBLE_EQ(box.scale, expected.scale);
        EXPECT_EQ(std::tie(box.width, box.height, box.left, box.top),
                  std::tie(expected.width, expected.height, expected.left, expected.top));
    }
}

TEST(FaceDecodingTest, AnchorsDecodeToBoxesAndOverlappingOnesBlendBestFirst) {
    std::vector<float> scoresSmall(512, -10.0F), scoresLarge(384, -10.0F);
    std::vector<float> boxesSmall(512 * 16, 0.0F), boxesLarge(384 * 16, 0.0F);
    const auto put = [](std::vector<float>& scores, std::vector<float>& boxes, int anchor, float score, float dx,
                        float size) {
        scores[anchor] = score;
        boxes[anchor * 16] = dx;
        boxes[anchor * 16 + 2] = boxes[anchor * 16 + 3] = size;
    };
    // Cell (x 8, y 4) of the 16 x 16 grid: centre (0.53125, 0.28125) of the input. A 64 px box
    // there, and the cell's second anchor 8 px to the right, exactly at the threshold (0.5).
    const int first = (4 * 16 + 8) * 2;
    put(scoresSmall, boxesSmall, first, 2.0F, 0.0F, 64.0F);
    put(scoresSmall, boxesSmall, first + 1, 0.0F, 8.0F, 64.0F);
    // A weaker face of 32 px in cell (x 0, y 4) of the 8 x 8 grid, centre (0.0625, 0.5625), and
    // one just under the threshold that is dropped.
    put(scoresLarge, boxesLarge, 4 * 8 * 6, 1.0F, 0.0F, 32.0F);
    put(scoresLarge, boxesLarge, 300, -0.01F, 0.0F, 32.0F);

    const facedetect::NetworkOutputs outputs{scoresSmall.data(), scoresLarge.data(), boxesSmall.data(),
                                             boxesLarge.data()};
    // A 512 x 256 image: letterboxed at half size with 64 px bars above and below.
    const Letterbox box = facedetect::letterboxFor(512, 256, 256);
    const auto faces = facedetect::decodeFaces(outputs, {256, 0.5F, 0.3F}, box, 512, 256);
    ASSERT_EQ(faces.size(), 2U);

    const double s1 = 1.0 / (1.0 + std::exp(-2.0));
    const double cx = (0.53125 * s1 + (0.53125 + 8.0 / 256) * 0.5) / (s1 + 0.5);
    // Confidence, x, y, width, height. Face 0: input rows 40 to 104 are image rows (40 - 64) * 2 =
    // -48 to 80, clipped at the top, origin at the lower left. Face 1: 32 input pixels are 64 image
    // pixels; input rows 128 to 160 are image rows 128 to 192.
    const double expected[2][5] = {{s1, cx - 0.125, 1.0 - 80.0 / 256, 0.25, 80.0 / 256},
                                   {1.0 / (1.0 + std::exp(-1.0)), 0.0, 1.0 - 192.0 / 256, 64.0 / 512, 64.0 / 256}};
    for (int i = 0; i < 2; ++i) {
        const imaging::Rect& b = faces[i].boundingBox;
        const double found[5] = {faces[i].confidence, b.x, b.y, b.width, b.height};
        for (int j = 0; j < 5; ++j) {
            EXPECT_NEAR(found[j], expected[i][j], 1e-6) << "face " << i << ", value " << j;
        }
    }
}

}  // namespace
}  // namespace tovak::testing
