#include "facedetect/BlazeFaceDecoding.h"

#include <algorithm>
#include <cmath>

namespace tovak::facedetect {

using monitor::FaceObservation;

namespace {

struct Candidate {
    float score = 0;
    // In letterbox units (0 to 1 over the square input), origin at the top left.
    float cx = 0, cy = 0, w = 0, h = 0;
    float keypoints[2 * kKeypoints] = {};
};

float overlap(const Candidate& a, const Candidate& b) {
    const float ix = std::min(a.cx + a.w / 2, b.cx + b.w / 2) - std::max(a.cx - a.w / 2, b.cx - b.w / 2);
    const float iy = std::min(a.cy + a.h / 2, b.cy + b.h / 2) - std::max(a.cy - a.h / 2, b.cy - b.h / 2);
    if (ix <= 0 || iy <= 0) {
        return 0;
    }
    const float inter = ix * iy;
    const float uni = a.w * a.h + b.w * b.h - inter;
    return uni > 0 ? inter / uni : 0;
}

// Each group of overlapping detections becomes one face: its coordinates are the score-weighted
// mean of the group, which steadies the box from frame to frame; its score is the best one's.
std::vector<Candidate> blend(std::vector<Candidate> candidates, float mergeOverlap) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    std::vector<Candidate> faces;
    std::vector<bool> used(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (used[i]) {
            continue;
        }
        Candidate sum{};
        float weight = 0;
        for (std::size_t j = i; j < candidates.size(); ++j) {
            if (used[j] || overlap(candidates[i], candidates[j]) <= mergeOverlap) {
                continue;
            }
            used[j] = true;
            const Candidate& c = candidates[j];
            sum.cx += c.cx * c.score;
            sum.cy += c.cy * c.score;
            sum.w += c.w * c.score;
            sum.h += c.h * c.score;
            for (int k = 0; k < 2 * kKeypoints; ++k) {
                sum.keypoints[k] += c.keypoints[k] * c.score;
            }
            weight += c.score;
        }
        Candidate face = sum;
        face.cx /= weight;
        face.cy /= weight;
        face.w /= weight;
        face.h /= weight;
        for (float& k : face.keypoints) {
            k /= weight;
        }
        face.score = candidates[i].score;
        faces.push_back(face);
    }
    return faces;
}

}  // namespace

Letterbox letterboxFor(int cols, int rows, int inputSize) {
    Letterbox box;
    box.scale = static_cast<double>(inputSize) / std::max({cols, rows, 1});
    box.width = std::clamp(static_cast<int>(std::lround(cols * box.scale)), 1, inputSize);
    box.height = std::clamp(static_cast<int>(std::lround(rows * box.scale)), 1, inputSize);
    box.left = (inputSize - box.width) / 2;
    box.top = (inputSize - box.height) / 2;
    return box;
}

bool assignOutputs(const std::vector<std::pair<const float*, std::size_t>>& outputs, NetworkOutputs& assigned,
                   std::string& error) {
    assigned = {};
    for (const auto& [data, count] : outputs) {
        if (count == kSmallAnchors) {
            assigned.scoresSmall = data;
        } else if (count == kLargeAnchors) {
            assigned.scoresLarge = data;
        } else if (count == std::size_t{kSmallAnchors} * kValuesPerAnchor) {
            assigned.boxesSmall = data;
        } else if (count == std::size_t{kLargeAnchors} * kValuesPerAnchor) {
            assigned.boxesLarge = data;
        }
    }
    if (outputs.size() != 4 || assigned.scoresSmall == nullptr || assigned.scoresLarge == nullptr ||
        assigned.boxesSmall == nullptr || assigned.boxesLarge == nullptr) {
        error = "model has unexpected outputs";
        return false;
    }
    return true;
}

std::vector<FaceObservation> decodeFaces(const NetworkOutputs& outputs, const DecodeSettings& settings,
                                         const Letterbox& letterbox, int imageCols, int imageRows) {
    const float threshold = settings.scoreThreshold;
    const float logitThreshold = std::log(threshold / (1.0F - threshold));
    const auto size = static_cast<float>(settings.inputSize);
    std::vector<Candidate> candidates;
    const auto take = [&](const float* s, const float* b, int count, int cells, int perCell) {
        for (int i = 0; i < count; ++i) {
            // Anchors below the threshold are rejected in logit space, before any exponential.
            if (!(s[i] >= logitThreshold)) {
                continue;
            }
            const int cell = i / perCell;
            const float ax = (static_cast<float>(cell % cells) + 0.5F) / static_cast<float>(cells);
            const float ay = (static_cast<float>(cell / cells) + 0.5F) / static_cast<float>(cells);
            const float* r = b + static_cast<std::ptrdiff_t>(i) * kValuesPerAnchor;
            Candidate c;
            c.score = 1.0F / (1.0F + std::exp(-std::min(s[i], 80.0F)));
            c.cx = ax + r[0] / size;
            c.cy = ay + r[1] / size;
            c.w = r[2] / size;
            c.h = r[3] / size;
            for (int k = 0; k < kKeypoints; ++k) {
                c.keypoints[2 * k] = ax + r[4 + 2 * k] / size;
                c.keypoints[2 * k + 1] = ay + r[5 + 2 * k] / size;
            }
            if (c.w > 0 && c.h > 0) {
                candidates.push_back(c);
            }
        }
    };
    take(outputs.scoresSmall, outputs.boxesSmall, kSmallAnchors, 16, 2);
    take(outputs.scoresLarge, outputs.boxesLarge, kLargeAnchors, 8, 6);

    // From the square input back to the image, normalised, origin at the lower left.
    const double width = imageCols;
    const double height = imageRows;
    const auto toX = [&](double u) { return (u * settings.inputSize - letterbox.left) / letterbox.scale / width; };
    const auto toY = [&](double v) {
        return 1.0 - (v * settings.inputSize - letterbox.top) / letterbox.scale / height;
    };
    std::vector<FaceObservation> faces;
    for (const Candidate& c : blend(std::move(candidates), settings.mergeOverlap)) {
        const double x0 = std::clamp(toX(c.cx - c.w / 2), 0.0, 1.0);
        const double x1 = std::clamp(toX(c.cx + c.w / 2), 0.0, 1.0);
        const double y0 = std::clamp(toY(c.cy + c.h / 2), 0.0, 1.0);
        const double y1 = std::clamp(toY(c.cy - c.h / 2), 0.0, 1.0);
        if (x1 <= x0 || y1 <= y0) {
            continue;
        }
        FaceObservation face;
        face.boundingBox = imaging::Rect{x0, y0, x1 - x0, y1 - y0};
        face.confidence = c.score;
        for (int k = 0; k < kKeypoints; ++k) {
            face.landmarks.push_back(monitor::Point{toX(c.keypoints[2 * k]), toY(c.keypoints[2 * k + 1])});
        }
        faces.push_back(std::move(face));
    }
    return faces;
}

}  // namespace tovak::facedetect
