#include "facedetect/onednn/PrimitiveBuilder.h"

#include <algorithm>
#include <cstring>

namespace tovak::facedetect::onednn {

namespace {

using dt = dnnl::memory::data_type;
using tag = dnnl::memory::format_tag;

dnnl::memory::desc describe(const Value& v) {
    if (v.layout == Layout::image) {
        return {toDnnl(v.dims), dt::f32, tag::nhwc};
    }
    static const tag plain[] = {tag::a, tag::ab, tag::abc, tag::abcd, tag::abcde, tag::abcdef};
    return {toDnnl(v.dims), dt::f32, plain[std::clamp<std::size_t>(v.dims.size(), 1, 6) - 1]};
}

}  // namespace

PrimitiveBuilder::PrimitiveBuilder(const Graph& graph, const BufferPlan& plan, Network& network)
    : graph_(graph), plan_(plan), network_(network) {
    plainAttributes_.set_scratchpad_mode(dnnl::scratchpad_mode::user);
}

std::vector<BuiltStep> PrimitiveBuilder::build() {
    for (const std::size_t size : plan_.sizes()) {
        const auto count = static_cast<dnnl::memory::dim>((size + sizeof(float) - 1) / sizeof(float));
        network_.buffers.emplace_back(dnnl::memory::desc({count}, dt::f32, tag::a), network_.engine);
    }
    network_.input = data(graph_.inputValue);
    std::vector<BuiltStep> built;
    for (const Op& op : graph_.ops) {
        if (op.removed) {
            continue;
        }
        built.push_back({&op, {}, {}, {}});
        switch (op.kind) {
            case OpKind::concat:
                addJoin(op);
                break;
            case OpKind::conv:
                addConvolution(op, built.back());
                break;
            case OpKind::maxPool:
                addMaxPool(op);
                break;
            case OpKind::add:
                addSum(op);
                break;
            case OpKind::relu:
                addRelu(op);
                break;
        }
    }
    network_.stream.wait();
    return built;
}

float* PrimitiveBuilder::data(int value) const {
    return network_.bufferData(plan_.bufferOf(value));
}

dnnl::memory PrimitiveBuilder::memoryOf(int value) {
    network_.keep.emplace_back(describe(graph_.value(value)), network_.engine, data(value));
    return network_.keep.back();
}

dnnl::primitive_attr PrimitiveBuilder::attributesFor(const Op& op) {
    dnnl::primitive_attr attr;
    attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
    dnnl::post_ops post;
    if (op.sum) {
        post.append_sum(1.0F);
        ++network_.fusedAdds;
    }
    if (op.relu) {
        post.append_eltwise(1.0F, dnnl::algorithm::eltwise_relu, 0.0F, 0.0F);
        ++network_.fusedRelus;
    }
    attr.set_post_ops(post);
    return attr;
}

void PrimitiveBuilder::addStep(const dnnl::primitive& primitive, const Args& args,
                               const dnnl::memory::desc& scratchpad) {
    scratchpadBytes_ = std::max(scratchpadBytes_, scratchpad.get_size());
    Step step;
    step.primitive = primitive;
    for (const auto& [arg, memory] : args) {
        network_.keep.push_back(memory);
        step.args.push_back({arg, memory.get()});
    }
    network_.steps.push_back(std::move(step));
}

void PrimitiveBuilder::addJoin(const Op& op) {
    const Value& out = graph_.value(op.output);
    Join join;
    join.target = data(op.output);
    join.pixels = static_cast<std::size_t>(out.dims[0] * out.dims[2] * out.dims[3]);
    for (const int in : op.inputs) {
        const Value& piece = graph_.value(in);
        join.pieces.push_back(
            {piece.kind == Value::Kind::zeros ? nullptr : data(in), static_cast<std::size_t>(piece.dims[1])});
    }
    network_.steps.push_back(Step{{}, {}, std::move(join)});
}

void PrimitiveBuilder::addConvolution(const Op& op, BuiltStep& built) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const Dims& w = op.weights->dims;
    const dnnl::memory::dims weightDims = op.groups == 1
                                              ? dnnl::memory::dims{w[0], w[1], w[2], w[3]}
                                              : dnnl::memory::dims{op.groups, w[0] / op.groups, w[1], w[2], w[3]};
    const tag weightTag = op.groups == 1 ? tag::oihw : tag::goihw;
    const dnnl::memory::desc weightsAny(weightDims, dt::f32, tag::any);
    const dnnl::memory::desc biasDesc({w[0]}, dt::f32, tag::a);
    const dnnl::convolution_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct,
                                               src.get_desc(), weightsAny, biasDesc, dst.get_desc(), toDnnl(op.strides),
                                               toDnnl(op.padBegin), toDnnl(op.padEnd));
    built.attributes = attributesFor(op);
    const dnnl::convolution_forward::primitive_desc pd(desc, built.attributes, network_.engine);
    // Weights into the layout the convolution wants, once.
    dnnl::memory given({weightDims, dt::f32, weightTag}, network_.engine);
    std::memcpy(given.get_data_handle(), op.weights->floats.data(), op.weights->floats.size() * sizeof(float));
    built.weights = dnnl::memory(pd.weights_desc(), network_.engine);
    dnnl::reorder(given, built.weights).execute(network_.stream, given, built.weights);
    built.bias = dnnl::memory(biasDesc, network_.engine);
    auto* biasData = static_cast<float*>(built.bias.get_data_handle());
    std::fill(biasData, biasData + w[0], 0.0F);
    if (op.bias) {
        std::copy(op.bias->floats.begin(), op.bias->floats.end(), biasData);
    }
    addStep(dnnl::convolution_forward(pd),
            {{DNNL_ARG_SRC, src}, {DNNL_ARG_WEIGHTS, built.weights}, {DNNL_ARG_BIAS, built.bias}, {DNNL_ARG_DST, dst}},
            pd.scratchpad_desc());
}

void PrimitiveBuilder::addMaxPool(const Op& op) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const dnnl::pooling_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::pooling_max,
                                           src.get_desc(), dst.get_desc(), toDnnl(op.strides), toDnnl(op.kernel),
                                           toDnnl(op.padBegin), toDnnl(op.padEnd));
    const dnnl::pooling_forward::primitive_desc pd(desc, plainAttributes_, network_.engine);
    addStep(dnnl::pooling_forward(pd), {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}}, pd.scratchpad_desc());
}

void PrimitiveBuilder::addSum(const Op& op) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const dnnl::memory other = memoryOf(op.inputs[1]);
    const dnnl::binary::desc desc(dnnl::algorithm::binary_add, src.get_desc(), other.get_desc(), dst.get_desc());
    const dnnl::binary::primitive_desc pd(desc, attributesFor(op), network_.engine);
    addStep(dnnl::binary(pd), {{DNNL_ARG_SRC_0, src}, {DNNL_ARG_SRC_1, other}, {DNNL_ARG_DST, dst}},
            pd.scratchpad_desc());
}

void PrimitiveBuilder::addRelu(const Op& op) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const dnnl::eltwise_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::eltwise_relu,
                                           src.get_desc(), 0.0F);
    const dnnl::eltwise_forward::primitive_desc pd(desc, plainAttributes_, network_.engine);
    addStep(dnnl::eltwise_forward(pd), {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}}, pd.scratchpad_desc());
}

}  // namespace tovak::facedetect::onednn
