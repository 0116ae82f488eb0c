#pragma once

#include <optional>

#include "facedetect/onednn/Graph.h"

namespace tovak::facedetect::onednn {

// A residual Add(r, conv(x)) run as the convolution writing conv(x) + r over r.
struct ResidualAdd {
    int add = -1;         // the Add op
    int conv = -1;        // the convolution op that feeds it
    int convOutput = -1;  // the value it wrote, read by the Add alone
    int residual = -1;    // the value added, whose buffer the convolution writes over
};

// The Add op at index add as a residual, or none. The convolution's side is tried as the Add's
// second input first. It fits when the convolution's output is read by the Add alone, neither is a
// graph output, the convolution carries no fusion yet, and nothing else reads the residual (or
// anything sharing its buffer) from the convolution on; the network's input is never written over.
std::optional<ResidualAdd> matchResidualAdd(const Graph& graph, int add);

// The convolution takes the residual and the Add's output, which joins the residual's buffer; the
// Add is removed.
void applyResidualAdd(Graph& graph, const ResidualAdd& match);

// Every Add that fits, in order.
void fuseResidualAdds(Graph& graph);

}  // namespace tovak::facedetect::onednn
