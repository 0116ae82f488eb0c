#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "facedetect/ChangeTest.h"

namespace tovak::testing {
namespace {

// A webcam's view, 640 x 480 BGRA at 30 frames a second: a shaded wall, maybe one face (a bright
// oval with dark eyes), the light's common level, and grain that differs in every frame.
struct Scene {
    int grain = 3;                                   // +- grey levels per pixel
    double drift = 0;                                // levels per frame
    int stepAt = -1, step = 0;                       // exposure step: from frame stepAt, `step` levels
    double faceX = -1, faceY = 240, dx = 0, dy = 0;  // face centre at frame 0 and its motion per frame
    int size = 40;                                   // face width in pixels
    int glowAt = -1, glow = 0;                       // from frame glowAt the face is `glow` levels brighter
    bool glowAround = false;                         // the glow falls just around the face instead
    int stepFrames = 1 << 20;                        // how many frames the exposure step lasts
    bool flat = false;                               // a plain grey wall, the same at any size
    int failAt = -1;                                 // the network fails on this frame
    int smallFrom = -1;                              // from this frame the camera gives 320 x 240
    int clockBackAt = -1;                            // from this frame the clock reads a second less
    int frames = 30;
};

std::vector<int> fullDetections(const Scene& scene) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(640) * 480 * 4);
    std::uint32_t seed = 12345;
    facedetect::ChangeTest test;
    std::vector<int> detected;
    for (int frame = 0; frame < scene.frames; ++frame) {
        const bool small = scene.smallFrom >= 0 && frame >= scene.smallFrom;
        const int cols = small ? 320 : 640, rows = small ? 240 : 480;
        const bool stepped = scene.stepAt >= 0 && frame >= scene.stepAt && frame < scene.stepAt + scene.stepFrames;
        const double cx = scene.faceX + scene.dx * frame, cy = scene.faceY + scene.dy * frame;
        const double a = scene.size / 2.0, b = scene.size * 0.65;
        const double light = scene.drift * frame + (stepped ? scene.step : 0);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                double v = scene.flat ? 100 : 100 + 40 * std::sin(x * 0.05) * std::cos(y * 0.07);
                const double u = (x - cx) / a, w = (y - cy) / b;
                const bool lit = frame >= scene.glowAt && scene.glowAt >= 0;
                if (scene.glowAround && lit && std::max(std::fabs(u), std::fabs(w)) > 1.3 &&
                    std::max(std::fabs(u), std::fabs(w)) <= 1.8) {
                    v += scene.glow;
                } else if (scene.faceX >= -1000 && u * u + w * w <= 1) {
                    const double ex = std::fabs(std::fabs(x - cx) - a / 2), ey = y - (cy - b / 4);
                    v = ex * ex + ey * ey < a * a / 16 ? 50 : 190 + (lit && !scene.glowAround ? scene.glow : 0);
                }
                seed = seed * 1664525U + 1013904223U;
                const int noise = static_cast<int>(seed >> 24U) % (2 * scene.grain + 1) - scene.grain;
                const auto level = static_cast<std::uint8_t>(std::clamp(v + light + noise, 0.0, 255.0));
                std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * cols + x) * 4];
                p[0] = p[1] = p[2] = level;
                p[3] = 255;
            }
        }
        const double now = frame / 30.0 - (scene.clockBackAt >= 0 && frame >= scene.clockBackAt ? 1 : 0);
        if (test.needsDetection(pixels.data(), cols, rows, static_cast<std::size_t>(cols) * 4, 4, now)) {
            detected.push_back(frame);
            if (frame == scene.failAt) {
                test.forget();
                continue;
            }
            std::vector<imaging::Rect> faces;
            if (cx + a > 0 && cx - a < cols && cy + b > 0 && cy - b < rows) {
                faces.push_back({(cx - a) / cols, (cy - b) / rows, 2 * a / cols, 2 * b / rows});
            }
            test.detected(faces);
        }
    }
    return detected;
}

TEST(ChangeTestTest, OnlyAChangeThatCouldBeAFaceOrAnOldListSendsAFrameToTheNetwork) {
    const struct Row {
        const char* name;
        Scene scene;
        std::vector<int> expected;
    } rows[] = {
        {"grain of 2 levels: a full detection every tenth frame", {.grain = 2, .faceX = -5000}, {0, 10, 20}},
        {"grain of 7 levels", {.grain = 7, .faceX = -5000}, {0, 10, 20}},
        // Grain past the least noise a block is credited with: learnt within a second.
        {"grain of 12 levels",
         {.grain = 12, .faceX = -5000, .frames = 90},
         {0, 4, 9, 12, 22, 26, 31, 41, 51, 61, 71, 81}},
        {"slow light drift", {.grain = 5, .drift = 0.25, .faceX = -5000}, {0, 10, 20}},
        {"exposure step", {.grain = 5, .stepAt = 14, .step = 12, .faceX = -5000}, {0, 10, 14, 24}},
        // A flash the network failed on: the frame after it is detected, though it looks like frame 10.
        {"a failed detection",
         {.grain = 5, .stepAt = 14, .step = 12, .faceX = -5000, .stepFrames = 1, .failAt = 14},
         {0, 10, 14, 15, 25}},
        // Half the size, the same block means: only the size tells another mode.
        {"another picture size", {.grain = 5, .faceX = -5000, .flat = true, .smallFrom = 14}, {0, 10, 14, 24}},
        {"a clock that goes back", {.grain = 5, .faceX = -5000, .clockBackAt = 14}, {0, 10, 14, 24}},
        {"a still face", {.grain = 5, .faceX = 320}, {0, 10, 20}},
        {"a face turning to the light", {.grain = 5, .faceX = 320, .glowAt = 13, .glow = 9}, {0, 10, 13, 23}},
        {"a person leaning towards the lamp",
         {.grain = 5, .faceX = 320, .glowAt = 13, .glow = 9, .glowAround = true},
         {0, 10, 13, 23}},
        {"a face turning while the light falls",
         {.grain = 5, .drift = -0.5, .faceX = 320, .glowAt = 13, .glow = 9},
         {0, 10, 13, 23}},
        // Half a pixel a frame: the edge of the face reaches the picture at frame 4; one column in
        // two and one row in four are read, so the right and bottom edges are seen a little later.
        {"40 px face from the left",
         {.grain = 5, .faceX = -22, .dx = 0.5},
         {0, 5, 8, 9, 12, 13, 16, 17, 19, 21, 23, 24, 25, 27, 29}},
        {"40 px face from the right",
         {.grain = 5, .faceX = 662, .dx = -0.5},
         {0, 9, 13, 16, 17, 20, 21, 23, 25, 27, 29}},
        {"40 px face from the top",
         {.grain = 5, .faceX = 200, .faceY = -28, .dy = 0.5},
         {0, 5, 6, 7, 11, 12, 13, 14, 15, 18, 19, 21, 22, 23, 25, 27, 29}},
        {"40 px face from the bottom",
         {.grain = 5, .faceX = 400, .faceY = 508, .dy = -0.5},
         {0, 10, 13, 14, 15, 19, 21, 22, 23, 27, 29}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fullDetections(row.scene), row.expected);
    }
}

// Frames near the threshold go to the network every time unless the scores of the last 30 detected
// frames show so little spread that no frame like them would cross it.
TEST(ScoreMarginTest, SettlesOnlyWhereTheSpreadSeenKeepsEveryScoreClearOfTheThreshold) {
    struct Sample {
        std::size_t faces;
        float lowestFace, highestMiss;
    };
    const auto repeat = [](int times, Sample a, Sample b) {
        std::vector<Sample> samples;
        for (int i = 0; i < times; ++i) {
            samples.push_back(i % 2 == 0 ? a : b);
        }
        return samples;
    };
    const auto then = [](std::vector<Sample> first, const std::vector<Sample>& second) {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    };
    const Sample poster{0, 1, 0.43F};
    const struct Row {
        const char* name;
        std::vector<Sample> samples;
        bool settled;
    } rows[] = {
        {"a poster scoring 0.43 without grain", repeat(30, poster, poster), true},
        {"29 frames are too few", repeat(29, {0, 1, 0.1F}, {0, 1, 0.1F}), false},
        {"a poster wandering from 0.30 to 0.45 with the grain", repeat(30, poster, {0, 1, 0.30F}), false},
        {"0.44 to 0.46: the spread takes it too near", repeat(30, {0, 1, 0.44F}, {0, 1, 0.46F}), false},
        {"0.44 to 0.45: clear", repeat(30, {0, 1, 0.44F}, {0, 1, 0.45F}), true},
        {"a miss at 0.49, too near", repeat(30, {0, 1, 0.49F}, {0, 1, 0.49F}), false},
        {"a miss at 0.47", repeat(30, {0, 1, 0.47F}, {0, 1, 0.47F}), true},
        {"a face at 0.55 without grain", repeat(30, {1, 0.55F, 0}, {1, 0.55F, 0}), true},
        {"a face at 0.51, too near", repeat(30, {1, 0.51F, 0}, {1, 0.51F, 0}), false},
        {"a face wandering from 0.6 to 0.7", repeat(30, {1, 0.6F, 0}, {1, 0.7F, 0}), false},
        {"a miss that comes and goes", repeat(30, poster, {0, 1, 0}), false},
        {"the face count changed within the window", then(repeat(29, {1, 0.9F, 0}, {1, 0.9F, 0}), {{2, 0.9F, 0}}),
         false},
        {"30 frames after the count changed", then(repeat(5, {2, 0.9F, 0}, {2, 0.9F, 0}), repeat(30, poster, poster)),
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        facedetect::ScoreMargin margin;
        for (const Sample& sample : row.samples) {
            margin.add(sample.faces, sample.lowestFace, sample.highestMiss);
        }
        EXPECT_EQ(margin.settled(0.5F), row.settled);
        margin.clear();
        EXPECT_FALSE(margin.settled(0.5F)) << "after clear";
    }
}

}  // namespace
}  // namespace tovak::testing
