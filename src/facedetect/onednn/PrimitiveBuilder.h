#pragma once

#include <cstddef>
#include <oneapi/dnnl/dnnl.hpp>
#include <string>
#include <utility>
#include <vector>

#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/Graph.h"
#include "facedetect/onednn/ImplementationChoice.h"
#include "facedetect/onednn/Network.h"
#include "facedetect/onednn/NumberPlan.h"

namespace tovak::facedetect::onednn {

// What a step was made from, for the first stage to make its partial convolutions alike: the op,
// and for a convolution its weights as given (f32, plain OIHW or GOIHW), its bias and attributes
// (post-ops included) as made, and the implementation it runs.
struct BuiltStep {
    const Op* op = nullptr;
    dnnl::memory plainWeights;
    dnnl::memory bias;
    dnnl::primitive_attr attributes;
    std::string implementation;
};

// Makes the network's buffers as planned and one step per op left after fusion, in order:
// activations NHWC in the types the number plan gives, weights converted and reordered once into
// the type and layout each convolution wants, a fused sum and Relu as post-ops, each primitive on
// the implementation the choice picks. Throws dnnl::error when oneDNN cannot make a step.
class PrimitiveBuilder {
  public:
    PrimitiveBuilder(const Graph& graph, const BufferPlan& plan, const NumberPlan& numbers,
                     ImplementationChoice& choice, Network& network);

    std::vector<BuiltStep> build();
    // The most scratchpad a step built asks for.
    [[nodiscard]] std::size_t scratchpadBytes() const { return scratchpadBytes_; }

  private:
    using Args = std::vector<std::pair<int, dnnl::memory>>;

    [[nodiscard]] std::byte* data(int value) const;
    [[nodiscard]] dnnl::memory::desc describe(int value) const;
    dnnl::memory memoryOf(int value);
    dnnl::primitive_attr attributesFor(const Op& op);
    dnnl::memory plainWeightsOf(const Op& op);
    dnnl::memory biasOf(const Op& op);
    // The implementation picked for a primitive that runs on args, weights reordered from plain.
    dnnl::primitive_desc choose(const ImplementationChoice::Make& make, const Args& args,
                                const dnnl::memory& plainWeights = {});
    dnnl::memory reordered(const dnnl::memory& from, const dnnl::memory::desc& to);
    void addStep(const dnnl::primitive_desc& pd, const Args& args);
    void addJoin(const Op& op);
    void addConvolution(const Op& op, BuiltStep& built);
    void addMaxPool(const Op& op);
    void addSum(const Op& op);
    void addRelu(const Op& op);

    const Graph& graph_;
    const BufferPlan& plan_;
    const NumberPlan& numbers_;
    ImplementationChoice& choice_;
    Network& network_;
    dnnl::primitive_attr plainAttributes_;
    std::size_t scratchpadBytes_ = 0;
};

}  // namespace tovak::facedetect::onednn
