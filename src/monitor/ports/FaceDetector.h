#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "imaging/Orientation.h"
#include "imaging/PixelBuffer.h"
#include "monitor/FaceObservation.h"

namespace tovak::monitor {

// Runs detection requests on one frame; made fresh for every frame and dropped after it, so it may
// keep the prepared (oriented, resized) image between the two passes.
class FaceRequestHandler {
  public:
    virtual ~FaceRequestHandler() = default;
    // The faces in detector order, or none when detection failed.
    virtual std::optional<std::vector<FaceObservation>> performFaceRectangles() = 0;
    // The given faces with their landmarks, or none when the pass failed.
    virtual std::optional<std::vector<FaceObservation>> performLandmarks(const std::vector<FaceObservation>& faces) = 0;
};

class FaceDetector {
  public:
    virtual ~FaceDetector() = default;
    // True when the detector can run (its model loaded).
    [[nodiscard]] virtual bool isAvailable() const = 0;
    [[nodiscard]] virtual std::unique_ptr<FaceRequestHandler> makeHandler(imaging::PixelBufferPtr frame,
                                                                          imaging::Orientation orientation) = 0;
};

}  // namespace tovak::monitor
