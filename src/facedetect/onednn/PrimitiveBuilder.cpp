#include "facedetect/onednn/PrimitiveBuilder.h"

#include <algorithm>
#include <cstring>

namespace tovak::facedetect::onednn {

namespace {

using dt = dnnl::memory::data_type;
using tag = dnnl::memory::format_tag;

dnnl::memory::dims weightDims(const Op& op) {
    const Dims& w = op.weights->dims;
    return op.groups == 1 ? dnnl::memory::dims{w[0], w[1], w[2], w[3]}
                          : dnnl::memory::dims{op.groups, w[0] / op.groups, w[1], w[2], w[3]};
}

}  // namespace

PrimitiveBuilder::PrimitiveBuilder(const Graph& graph, const BufferPlan& plan, const NumberPlan& numbers,
                                   ImplementationChoice& choice, Network& network)
    : graph_(graph), plan_(plan), numbers_(numbers), choice_(choice), network_(network) {
    plainAttributes_.set_scratchpad_mode(dnnl::scratchpad_mode::user);
}

std::vector<BuiltStep> PrimitiveBuilder::build() {
    for (const std::size_t size : plan_.sizes()) {
        const auto count = static_cast<dnnl::memory::dim>(std::max<std::size_t>(size, 1));
        network_.buffers.emplace_back(dnnl::memory::desc({count}, dt::u8, tag::a), network_.engine);
        // Zeros, so that the implementations are timed on ordinary numbers.
        std::memset(network_.buffers.back().get_data_handle(), 0, static_cast<std::size_t>(count));
    }
    network_.input = data(graph_.inputValue);
    std::vector<BuiltStep> built;
    for (const Op& op : graph_.ops) {
        if (op.removed) {
            continue;
        }
        built.push_back({&op, {}, {}, {}, {}});
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
        built.back().implementation = network_.steps.back().implementation;
    }
    network_.stream.wait();
    return built;
}

std::byte* PrimitiveBuilder::data(int value) const {
    return network_.bufferData(plan_.bufferOf(value));
}

dnnl::memory::desc PrimitiveBuilder::describe(int value) const {
    const Value& v = graph_.value(value);
    const dt type = numbers_.typeOf(value);
    if (v.layout == Layout::image) {
        return {toDnnl(v.dims), type, tag::nhwc};
    }
    static const tag plain[] = {tag::a, tag::ab, tag::abc, tag::abcd, tag::abcde, tag::abcdef};
    return {toDnnl(v.dims), type, plain[std::clamp<std::size_t>(v.dims.size(), 1, 6) - 1]};
}

dnnl::memory PrimitiveBuilder::memoryOf(int value) {
    network_.keep.emplace_back(describe(value), network_.engine, data(value));
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

dnnl::memory PrimitiveBuilder::plainWeightsOf(const Op& op) {
    const std::vector<float>& w = op.weights->floats;
    dnnl::memory given({weightDims(op), dt::f32, op.groups == 1 ? tag::oihw : tag::goihw}, network_.engine);
    std::memcpy(given.get_data_handle(), w.data(), w.size() * sizeof(float));
    return given;
}

dnnl::memory PrimitiveBuilder::biasOf(const Op& op) {
    const auto channels = static_cast<std::size_t>(op.weights->dims[0]);
    dnnl::memory bias({{static_cast<dnnl::memory::dim>(channels)}, dt::f32, tag::a}, network_.engine);
    auto* b = static_cast<float*>(bias.get_data_handle());
    std::fill(b, b + channels, 0.0F);
    if (op.bias) {
        std::copy(op.bias->floats.begin(), op.bias->floats.end(), b);
    }
    return bias;
}

dnnl::memory PrimitiveBuilder::reordered(const dnnl::memory& from, const dnnl::memory::desc& to) {
    if (from.get_desc() == to) {
        return from;
    }
    dnnl::memory source = from;
    dnnl::memory result(to, network_.engine);
    dnnl::reorder(source, result).execute(network_.stream, source, result);
    network_.stream.wait();
    return result;
}

dnnl::primitive_desc PrimitiveBuilder::choose(const ImplementationChoice::Make& make, const Args& args,
                                              const dnnl::memory& plainWeights) {
    return choice_.pick(make, [&](const dnnl::primitive_desc& pd, double giveUp) -> std::optional<double> {
        try {
            const dnnl::primitive primitive(pd);
            std::vector<dnnl::memory> held;
            std::vector<dnnl_exec_arg_t> run;
            for (const auto& [arg, memory] : args) {
                run.push_back({arg, memory.get()});
            }
            if (plainWeights) {
                held.push_back(reordered(plainWeights, pd.weights_desc()));
                run.push_back({DNNL_ARG_WEIGHTS, held.back().get()});
            }
            held.emplace_back(pd.scratchpad_desc(), network_.engine);
            run.push_back({DNNL_ARG_SCRATCHPAD, held.back().get()});
            return ImplementationChoice::time(primitive, run, network_.stream, giveUp);
        } catch (const dnnl::error&) {
            return std::nullopt;
        }
    });
}

void PrimitiveBuilder::addStep(const dnnl::primitive_desc& pd, const Args& args) {
    scratchpadBytes_ = std::max(scratchpadBytes_, pd.scratchpad_desc().get_size());
    Step step;
    step.primitive = dnnl::primitive(pd);
    step.implementation = pd.impl_info_str();
    for (const auto& [arg, memory] : args) {
        network_.keep.push_back(memory);
        step.args.push_back({arg, memory.get()});
    }
    network_.steps.push_back(std::move(step));
}

void PrimitiveBuilder::addJoin(const Op& op) {
    const Value& out = graph_.value(op.output);
    const std::size_t bytes = numbers_.bytesOf(op.output);
    Join join;
    join.target = data(op.output);
    join.pixels = static_cast<std::size_t>(out.dims[0] * out.dims[2] * out.dims[3]);
    for (const int in : op.inputs) {
        const Value& piece = graph_.value(in);
        join.pieces.push_back(
            {piece.kind == Value::Kind::zeros ? nullptr : data(in), static_cast<std::size_t>(piece.dims[1]) * bytes});
    }
    network_.steps.push_back(Step{{}, {}, {}, std::move(join)});
}

void PrimitiveBuilder::addConvolution(const Op& op, BuiltStep& built) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    built.plainWeights = plainWeightsOf(op);
    built.bias = biasOf(op);
    built.attributes = attributesFor(op);
    const dnnl::memory::desc weightsAny(weightDims(op), numbers_.weightType(), tag::any);
    const dnnl::convolution_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct,
                                               src.get_desc(), weightsAny, built.bias.get_desc(), dst.get_desc(),
                                               toDnnl(op.strides), toDnnl(op.padBegin), toDnnl(op.padEnd));
    const Args args{{DNNL_ARG_SRC, src}, {DNNL_ARG_BIAS, built.bias}, {DNNL_ARG_DST, dst}};
    const dnnl::primitive_desc pd =
        choose([&] { return dnnl::convolution_forward::primitive_desc(desc, built.attributes, network_.engine); }, args,
               built.plainWeights);
    addStep(pd, {{DNNL_ARG_SRC, src},
                 {DNNL_ARG_WEIGHTS, reordered(built.plainWeights, pd.weights_desc())},
                 {DNNL_ARG_BIAS, built.bias},
                 {DNNL_ARG_DST, dst}});
}

void PrimitiveBuilder::addMaxPool(const Op& op) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const dnnl::pooling_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::pooling_max,
                                           src.get_desc(), dst.get_desc(), toDnnl(op.strides), toDnnl(op.kernel),
                                           toDnnl(op.padBegin), toDnnl(op.padEnd));
    const Args args{{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
    addStep(
        choose([&] { return dnnl::pooling_forward::primitive_desc(desc, plainAttributes_, network_.engine); }, args),
        args);
}

void PrimitiveBuilder::addSum(const Op& op) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const dnnl::memory other = memoryOf(op.inputs[1]);
    const dnnl::binary::desc desc(dnnl::algorithm::binary_add, src.get_desc(), other.get_desc(), dst.get_desc());
    const dnnl::primitive_attr attributes = attributesFor(op);
    const Args args{{DNNL_ARG_SRC_0, src}, {DNNL_ARG_SRC_1, other}, {DNNL_ARG_DST, dst}};
    addStep(choose([&] { return dnnl::binary::primitive_desc(desc, attributes, network_.engine); }, args), args);
}

void PrimitiveBuilder::addRelu(const Op& op) {
    const dnnl::memory src = memoryOf(op.inputs[0]);
    const dnnl::memory dst = memoryOf(op.output);
    const dnnl::eltwise_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::eltwise_relu,
                                           src.get_desc(), 0.0F);
    const Args args{{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}};
    addStep(
        choose([&] { return dnnl::eltwise_forward::primitive_desc(desc, plainAttributes_, network_.engine); }, args),
        args);
}

}  // namespace tovak::facedetect::onednn
