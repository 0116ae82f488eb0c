#pragma once

#include <optional>
#include <string>

#include "facedetect/OnnxModel.h"
#include "facedetect/onednn/Graph.h"

namespace tovak::facedetect::onednn {

// The graph of a model whose one input is [1, inputSize, inputSize, 3] NHWC and whose outputs are
// row-major; none, with the reason in error, for an operator, attribute or shape outside the
// supported set (named in the message). The graph points into the model.
std::optional<Graph> importGraph(const OnnxModel& model, int inputSize, std::string& error);

}  // namespace tovak::facedetect::onednn
