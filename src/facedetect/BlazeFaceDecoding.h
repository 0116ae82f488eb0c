#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "monitor/FaceObservation.h"

namespace tovak::facedetect {

// Where an image of cols x rows lands in the network's square input: scaled to fit, proportions
// kept, centred on black bars.
struct Letterbox {
    double scale = 1;
    int width = 1;
    int height = 1;
    int left = 0;
    int top = 0;
};

[[nodiscard]] Letterbox letterboxFor(int cols, int rows, int inputSize);

// The four tensors BlazeFace gives, wherever the backend keeps them: scores and regressors of the
// 16 x 16 x 2 anchors, then of the 8 x 8 x 6 anchors.
struct NetworkOutputs {
    const float* scoresSmall = nullptr;
    const float* scoresLarge = nullptr;
    const float* boxesSmall = nullptr;
    const float* boxesLarge = nullptr;
};

inline constexpr int kSmallAnchors = 512;
inline constexpr int kLargeAnchors = 384;
inline constexpr int kValuesPerAnchor = 16;
inline constexpr int kKeypoints = 6;

// Tells the four outputs apart by their element counts, whatever order the network lists them
// in; false, with the reason, when they are not the four BlazeFace gives.
bool assignOutputs(const std::vector<std::pair<const float*, std::size_t>>& outputs, NetworkOutputs& assigned,
                   std::string& error);

struct DecodeSettings {
    int inputSize = 256;
    float scoreThreshold = 0.5F;
    // Detections overlapping more than this (intersection over union) are one face.
    float mergeOverlap = 0.3F;
};

// The faces in an image of imageCols x imageRows that was letterboxed into the input: anchors
// above the threshold decoded, overlapping ones blended, best first; boxes normalised to the image
// with the origin at the lower left, each with its six keypoints.
[[nodiscard]] std::vector<monitor::FaceObservation> decodeFaces(const NetworkOutputs& outputs,
                                                                const DecodeSettings& settings,
                                                                const Letterbox& letterbox, int imageCols,
                                                                int imageRows);

}  // namespace tovak::facedetect
