#pragma once

#include <optional>

#include "facedetect/onednn/Graph.h"

namespace tovak::facedetect::onednn {

// The op a Relu runs inside as its last step, or none: the convolution or Add that writes the
// Relu's input (a convolution that took a residual Add counts as writing the sum), when nothing
// else reads that input, it is no graph output, and the op carries no Relu yet.
std::optional<int> matchRelu(const Graph& graph, int relu);

// The producer takes the Relu and its output, which joins the producer's buffer; the Relu is removed.
void applyRelu(Graph& graph, int relu, int producer);

// Every Relu that fits, in order; after the residual Adds, so that a sum's Relu runs in its convolution.
void fuseRelus(Graph& graph);

}  // namespace tovak::facedetect::onednn
