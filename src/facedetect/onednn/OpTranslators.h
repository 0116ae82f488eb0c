#pragma once

#include <string>

#include "facedetect/OnnxModel.h"
#include "facedetect/onednn/ImportContext.h"

namespace tovak::facedetect::onednn {

// Adds one node of the model to the graph, or refuses it through the context.
using TranslateNode = void (*)(ImportContext& context, const OnnxNode& node);

// The translation for an ONNX op type; none for an operator outside the supported set.
TranslateNode translatorFor(const std::string& opType);

}  // namespace tovak::facedetect::onednn
