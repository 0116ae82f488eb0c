#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "facedetect/OnnxModel.h"

namespace tovak::facedetect::onednn {

using Dims = std::vector<std::int64_t>;

// How an activation lies in memory: image tensors are NCHW to ONNX and NHWC in memory; plain ones
// are row-major in their own dimensions (the network's input, and what the output Transposes and
// Reshapes make of the heads).
enum class Layout { image, plain };

struct Value {
    enum class Kind { activation, constant, zeros } kind = Kind::activation;
    Dims dims;
    Layout layout = Layout::plain;
    const OnnxTensor* constant = nullptr;
    // Activations sharing a group share one buffer: aliases (Transpose, Reshape) and the values a
    // fused convolution writes over.
    int group = -1;
    // The op that writes it; -1 for the input.
    int producer = -1;
    std::vector<int> consumers;
    bool graphOutput = false;
};

enum class OpKind { conv, relu, add, maxPool, concat };

struct Op {
    OpKind kind = OpKind::conv;
    std::vector<int> inputs;
    int output = -1;
    bool removed = false;
    // Conv and MaxPool.
    const OnnxTensor* weights = nullptr;
    const OnnxTensor* bias = nullptr;
    std::int64_t groups = 1;
    Dims kernel, strides, padBegin, padEnd;
    // Fusion: the convolution adds the value already in its output buffer (residual), then
    // applies Relu.
    bool sum = false;
    int residual = -1;
    bool relu = false;
};

// The network as ops on values, in the order the model lists them. Constants point into the
// model, which outlives the graph.
struct Graph {
    std::vector<Value> values;
    std::vector<Op> ops;
    int inputValue = -1;
    std::vector<int> outputValues;
    // The values by their names in the model.
    std::map<std::string, int> byName;

    Value& value(int index) { return values[static_cast<std::size_t>(index)]; }
    [[nodiscard]] const Value& value(int index) const { return values[static_cast<std::size_t>(index)]; }
    Op& op(int index) { return ops[static_cast<std::size_t>(index)]; }
    [[nodiscard]] const Op& op(int index) const { return ops[static_cast<std::size_t>(index)]; }
    // Every value of buffer group from joins group to.
    void mergeGroups(int from, int to);
};

std::size_t elements(const Dims& dims);
std::string dimsText(const Dims& dims);

}  // namespace tovak::facedetect::onednn
