#pragma once

#include "facedetect/BlazeFaceDecoding.h"
#include "facedetect/InputFormat.h"

namespace tovak::facedetect {

// One loaded network that turns a square NHWC RGB input in [-1, 1] into BlazeFace's four
// outputs. Everything it needs is allocated when it is loaded; one caller at a time.
class InferenceBackend {
  public:
    virtual ~InferenceBackend() = default;
    [[nodiscard]] virtual const char* name() const = 0;
    // The input, [1, size, size, 3] values in inputFormat(), written by the caller before run().
    [[nodiscard]] virtual void* input() = 0;
    [[nodiscard]] virtual InputFormat inputFormat() const { return InputFormat::f32; }
    // Rows of the input outside [top, bottom) hold black (-1) only, as a letterbox leaves them; an
    // engine may skip work that depends on them alone. Every row, until said otherwise.
    virtual void setPictureRows(int /*top*/, int /*bottom*/) {}
    // False when the network failed; the outputs are then not to be read.
    virtual bool run() = 0;
    // Valid after a successful run() until the next one.
    [[nodiscard]] virtual NetworkOutputs outputs() const = 0;
};

}  // namespace tovak::facedetect
