#include "facedetect/onednn/PictureRowsOnlyStage.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tovak::facedetect::onednn {

namespace {

using dt = dnnl::memory::data_type;
using tag = dnnl::memory::format_tag;

// The stage's tensor that holds value v: 0 for the input and what shares its buffer, -1 for none.
int tensorFor(const Graph& graph, const std::map<int, int>& tensorOf, int v) {
    if (graph.value(v).group == graph.value(graph.inputValue).group) {
        return 0;
    }
    const auto it = tensorOf.find(v);
    return it == tensorOf.end() ? -1 : it->second;
}

}  // namespace

PictureRowsOnlyStage::PictureRowsOnlyStage(const Graph& graph, const BufferPlan& plan, const NumberPlan& numbers,
                                           const Network& network, const std::vector<BuiltStep>& built, int inputSize,
                                           std::vector<std::byte> blackPixel)
    : blackPixel_(std::move(blackPixel)) {
    const std::map<int, int> tensorOf = collectConvs(graph, plan, numbers, network, built, inputSize);
    markReadWhole(graph, built, tensorOf);
    pictureRows_ = {0, inputSize};
    builtFor_ = pictureRows_;
    findRows();
}

std::map<int, int> PictureRowsOnlyStage::collectConvs(const Graph& graph, const BufferPlan& plan,
                                                      const NumberPlan& numbers, const Network& network,
                                                      const std::vector<BuiltStep>& built, int inputSize) {
    const auto image = [&](int v) {
        const Value& value = graph.value(v);
        Tensor t;
        t.data = network.bufferData(plan.bufferOf(v));
        t.type = numbers.typeOf(v);
        t.elementBytes = numbers.bytesOf(v);
        t.channels = static_cast<int>(value.dims[1]);
        t.height = static_cast<int>(value.dims[2]);
        t.width = static_cast<int>(value.dims[3]);
        return t;
    };
    std::map<int, int> tensorOf;
    Tensor input;
    input.data = network.input;
    input.type = numbers.typeOf(graph.inputValue);
    input.elementBytes = numbers.bytesOf(graph.inputValue);
    input.channels = 3;
    input.height = inputSize;
    input.width = inputSize;
    tensors_.push_back(std::move(input));
    for (const BuiltStep& step : built) {
        const Op& op = *step.op;
        const Value& out = graph.value(op.output);
        const int src = tensorFor(graph, tensorOf, op.inputs[0]);
        const int residual = op.sum ? tensorFor(graph, tensorOf, op.residual) : -1;
        if (op.kind != OpKind::conv || out.dims[2] * 2 != inputSize || src < 0 || (op.sum && residual < 0)) {
            break;
        }
        Conv conv;
        conv.src = src;
        conv.residual = residual;
        conv.kernel = static_cast<int>(op.kernel[0]);
        conv.stride = static_cast<int>(op.strides[0]);
        conv.padTop = static_cast<int>(op.padBegin[0]);
        conv.strides = toDnnl(op.strides);
        conv.padBegin = toDnnl(op.padBegin);
        conv.padEnd = toDnnl(op.padEnd);
        conv.plainWeights = step.plainWeights;
        conv.weightType = numbers.weightType();
        conv.bias = step.bias;
        conv.attributes = step.attributes;
        conv.implementation = step.implementation;
        conv.out = static_cast<int>(tensors_.size());
        tensorOf[op.output] = conv.out;
        tensors_.push_back(image(op.output));
        convs_.push_back(std::move(conv));
    }
    return tensorOf;
}

void PictureRowsOnlyStage::markReadWhole(const Graph& graph, const std::vector<BuiltStep>& built,
                                         const std::map<int, int>& tensorOf) {
    for (std::size_t i = convs_.size(); i < built.size(); ++i) {
        std::vector<int> read = built[i].op->inputs;
        read.push_back(built[i].op->residual);
        for (const int v : read) {
            if (v >= 0 && graph.value(v).kind == Value::Kind::activation && tensorFor(graph, tensorOf, v) > 0) {
                tensors_[static_cast<std::size_t>(tensorFor(graph, tensorOf, v))].readWhole = true;
            }
        }
    }
}

void PictureRowsOnlyStage::setPictureRows(int top, int bottom) {
    const int size = tensors_[0].height;
    pictureRows_ = {std::clamp(top, 0, size), std::clamp(bottom, 0, size)};
}

void PictureRowsOnlyStage::findRows() {
    findReachedRows();
    findNeededRows();
}

void PictureRowsOnlyStage::unite(Rows& into, Rows more) {
    if (!more.empty()) {
        into = into.empty() ? more : Rows{std::min(into.begin, more.begin), std::max(into.end, more.end)};
    }
}

void PictureRowsOnlyStage::findReachedRows() {
    // The output rows whose window meets a row the picture reached; with a residual, its rows too.
    tensors_[0].reached = pictureRows_;
    for (const Conv& conv : convs_) {
        const Rows in = tensors_[static_cast<std::size_t>(conv.src)].reached;
        Tensor& out = tensors_[static_cast<std::size_t>(conv.out)];
        out.reached = {};
        if (!in.empty()) {
            const int lowest = in.begin + conv.padTop - conv.kernel + 1;
            out.reached = {std::clamp(lowest <= 0 ? 0 : (lowest + conv.stride - 1) / conv.stride, 0, out.height),
                           std::clamp((in.end - 1 + conv.padTop) / conv.stride + 1, 0, out.height)};
        }
        if (conv.residual >= 0) {
            unite(out.reached, tensors_[static_cast<std::size_t>(conv.residual)].reached);
        }
    }
}

void PictureRowsOnlyStage::findNeededRows() {
    // The rows each tensor's readers read: the windows over the rows they make, and a residual's
    // rows where it is added.
    for (std::size_t t = 1; t < tensors_.size(); ++t) {
        tensors_[t].needed = tensors_[t].readWhole ? Rows{0, tensors_[t].height} : Rows{};
        tensors_[t].above.clear();
        tensors_[t].below.clear();
    }
    for (const Conv& conv : convs_) {
        const Rows made = tensors_[static_cast<std::size_t>(conv.out)].reached;
        if (made.empty()) {
            continue;
        }
        Tensor& in = tensors_[static_cast<std::size_t>(conv.src)];
        unite(in.needed, Rows{std::max(0, made.begin * conv.stride - conv.padTop),
                              std::min(in.height, (made.end - 1) * conv.stride - conv.padTop + conv.kernel)});
        if (conv.residual >= 0) {
            unite(tensors_[static_cast<std::size_t>(conv.residual)].needed, made);
        }
    }
}

void PictureRowsOnlyStage::buildParts(Network& network) {
    std::size_t scratchpadBytes = network.scratchpad.get_desc().get_size();
    for (Conv& conv : convs_) {
        scratchpadBytes = std::max(scratchpadBytes, buildPart(conv, network));
    }
    network.stream.wait();
    network.growScratchpad(scratchpadBytes);
    for (Conv& conv : convs_) {
        if (conv.part) {
            conv.part->args.push_back({DNNL_ARG_SCRATCHPAD, network.scratchpad.get()});
        }
    }
}

std::size_t PictureRowsOnlyStage::buildPart(Conv& conv, Network& network) {
    conv.part.reset();
    conv.partMemory.clear();
    const Tensor& in = tensors_[static_cast<std::size_t>(conv.src)];
    Tensor& out = tensors_[static_cast<std::size_t>(conv.out)];
    const Rows made = out.reached;
    if (made.empty() || (made.begin == 0 && made.end == out.height)) {
        return 0;
    }
    // The window's rows for the rows made: those of the input, and padding past its edges.
    const int first = made.begin * conv.stride - conv.padTop;
    const int last = (made.end - 1) * conv.stride - conv.padTop + conv.kernel;
    const int from = std::max(0, first);
    const int to = std::min(in.height, last);
    const dnnl::memory src({{1, in.channels, to - from, in.width}, in.type, tag::nhwc}, network.engine, in.row(from));
    const dnnl::memory dst({{1, out.channels, made.end - made.begin, out.width}, out.type, tag::nhwc}, network.engine,
                           out.row(made.begin));
    const dnnl::memory::desc weightsAny(conv.plainWeights.get_desc().dims(), conv.weightType, tag::any);
    const dnnl::convolution_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::convolution_direct,
                                               src.get_desc(), weightsAny, conv.bias.get_desc(), dst.get_desc(),
                                               conv.strides, {from - first, conv.padBegin[1]},
                                               {last - to, conv.padEnd[1]});
    const dnnl::primitive_desc pd = ImplementationChoice::named(
        [&] { return dnnl::convolution_forward::primitive_desc(desc, conv.attributes, network.engine); },
        conv.implementation);
    dnnl::memory plain = conv.plainWeights;
    dnnl::memory weights(pd.weights_desc(), network.engine);
    dnnl::reorder(plain, weights).execute(network.stream, plain, weights);
    Step step;
    step.primitive = dnnl::primitive(pd);
    step.implementation = pd.impl_info_str();
    for (const auto& [arg, memory] : {std::pair{DNNL_ARG_SRC, src}, std::pair{DNNL_ARG_WEIGHTS, weights},
                                      std::pair{DNNL_ARG_BIAS, conv.bias}, std::pair{DNNL_ARG_DST, dst}}) {
        conv.partMemory.push_back(memory);
        step.args.push_back({arg, memory.get()});
    }
    conv.part = std::move(step);
    return pd.scratchpad_desc().get_size();
}

bool PictureRowsOnlyStage::keepBlackRows(Network& network) {
    // The stage run whole on a black input; what each tensor's readers need outside the rows the
    // picture reaches is kept.
    const Tensor& image = tensors_[0];
    const std::size_t inputBytes = static_cast<std::size_t>(image.height) * image.rowBytes();
    std::vector<std::byte> picture(image.data, image.data + inputBytes);
    for (std::size_t at = 0; at < inputBytes; at += blackPixel_.size()) {
        std::copy(blackPixel_.begin(), blackPixel_.end(), image.data + at);
    }
    bool ok = true;
    for (std::size_t i = 0; i < convs_.size() && ok; ++i) {
        ok = network.execute(network.steps[i]) && network.wait();
        Tensor& out = tensors_[static_cast<std::size_t>(convs_[i].out)];
        const auto rows = [&](int from, int to) {
            from = std::max(from, out.needed.begin);
            to = std::min(to, out.needed.end);
            return std::vector<std::byte>(out.row(from), out.row(std::max(from, to)));
        };
        out.above = rows(0, out.reached.begin);
        out.below = rows(out.reached.end, out.height);
    }
    std::copy(picture.begin(), picture.end(), image.data);
    return ok;
}

void PictureRowsOnlyStage::restoreOutside(const Tensor& t) {
    std::copy(t.above.begin(), t.above.end(), t.row(std::max(0, t.needed.begin)));
    std::copy(t.below.begin(), t.below.end(), t.row(std::max(t.reached.end, t.needed.begin)));
}

void PictureRowsOnlyStage::prepare(Network& network) {
    if (wholeRowsOnly_ || (pictureRows_.begin == builtFor_.begin && pictureRows_.end == builtFor_.end)) {
        return;
    }
    builtFor_ = pictureRows_;
    try {
        findRows();
        buildParts(network);
        if (keepBlackRows(network)) {
            return;
        }
    } catch (const dnnl::error&) {
    }
    wholeRowsOnly_ = true;
    pictureRows_ = {0, tensors_[0].height};
    findRows();
    for (Conv& conv : convs_) {
        conv.part.reset();
    }
}

bool PictureRowsOnlyStage::run(std::size_t i, Network& network) {
    const Conv& conv = convs_[i];
    const Tensor& out = tensors_[static_cast<std::size_t>(conv.out)];
    if (!out.reached.empty() && !network.execute(conv.part ? *conv.part : network.steps[i])) {
        return false;
    }
    restoreOutside(out);
    return true;
}

}  // namespace tovak::facedetect::onednn
