#pragma once

#include <optional>
#include <string>

#include "imaging/PixelBuffer.h"

namespace tovak::sources {

// One frame of a recorded or generated source, with its own time since the source began.
struct SourceFrame {
    imaging::PixelBufferPtr image;
    double timestamp = 0;
};

// Frames one after another, at the source's own rate.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // The next frame, or none at the end.
    virtual std::optional<SourceFrame> next() = 0;
    // The name shown after "● ".
    [[nodiscard]] virtual std::string name() const = 0;
    [[nodiscard]] virtual double framesPerSecond() const = 0;
};

}  // namespace tovak::sources
