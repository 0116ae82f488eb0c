#pragma once

#include <cstddef>
#include <oneapi/dnnl/dnnl.hpp>
#include <utility>
#include <vector>

#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/Graph.h"
#include "facedetect/onednn/Network.h"

namespace tovak::facedetect::onednn {

// What a step was made from, for the first stage to make its partial convolutions alike: the op,
// and for a convolution its weights, bias and attributes (post-ops included) as made.
struct BuiltStep {
    const Op* op = nullptr;
    dnnl::memory weights;
    dnnl::memory bias;
    dnnl::primitive_attr attributes;
};

// Makes the network's buffers as planned and one step per op left after fusion, in order:
// activations NHWC, weights reordered once into the layout each convolution wants, a fused sum
// and Relu as post-ops. Throws dnnl::error when oneDNN cannot make a step.
class PrimitiveBuilder {
  public:
    PrimitiveBuilder(const Graph& graph, const BufferPlan& plan, Network& network);

    std::vector<BuiltStep> build();
    // The most scratchpad a step built asks for.
    [[nodiscard]] std::size_t scratchpadBytes() const { return scratchpadBytes_; }

  private:
    using Args = std::vector<std::pair<int, dnnl::memory>>;

    [[nodiscard]] float* data(int value) const;
    dnnl::memory memoryOf(int value);
    dnnl::primitive_attr attributesFor(const Op& op);
    void addStep(const dnnl::primitive& primitive, const Args& args, const dnnl::memory::desc& scratchpad);
    void addJoin(const Op& op);
    void addConvolution(const Op& op, BuiltStep& built);
    void addMaxPool(const Op& op);
    void addSum(const Op& op);
    void addRelu(const Op& op);

    const Graph& graph_;
    const BufferPlan& plan_;
    Network& network_;
    dnnl::primitive_attr plainAttributes_;
    std::size_t scratchpadBytes_ = 0;
};

}  // namespace tovak::facedetect::onednn
