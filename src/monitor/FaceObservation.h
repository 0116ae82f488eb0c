#pragma once

#include <vector>

#include "imaging/Geometry.h"

namespace tovak::monitor {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

// One detected face. The box is normalised to the upright (oriented) image, 0 to 1 on both axes,
// origin at the lower left. Landmarks, where the landmark pass found them, use the same space.
struct FaceObservation {
    imaging::Rect boundingBox;
    float confidence = 0;
    std::vector<Point> landmarks;
};

// One outline drawn over the preview.
struct PreviewFaceItem {
    imaging::Rect rect;
    bool isPrimary = false;
    bool operator==(const PreviewFaceItem&) const = default;
};

}  // namespace tovak::monitor
