#include "facedetect/OneDnnBackend.h"

#include <omp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <numeric>
#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "facedetect/OnnxModel.h"
#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/GraphImport.h"
#include "facedetect/onednn/ReluFusion.h"
#include "facedetect/onednn/ResidualAddFusion.h"

namespace tovak::facedetect {

namespace {

using onednn::Dims;
using onednn::elements;
using onednn::Graph;
using onednn::Layout;
using onednn::Op;
using onednn::OpKind;
using onednn::Value;

dnnl::memory::dims toDnnl(const Dims& dims) {
    return dnnl::memory::dims(dims.begin(), dims.end());
}

dnnl::memory::desc describe(const Value& v) {
    using tag = dnnl::memory::format_tag;
    if (v.layout == Layout::image) {
        return {toDnnl(v.dims), dnnl::memory::data_type::f32, tag::nhwc};
    }
    static const tag plain[] = {tag::a, tag::ab, tag::abc, tag::abcd, tag::abcde, tag::abcdef};
    return {toDnnl(v.dims), dnnl::memory::data_type::f32, plain[std::clamp<std::size_t>(v.dims.size(), 1, 6) - 1]};
}

}  // namespace

struct OneDnnBackend::Network {
    // The zero-channel pad: per pixel, each piece's channels copied or zeroed, in order.
    struct Join {
        struct Piece {
            const float* source = nullptr;  // none for zeros
            std::size_t channels = 0;
        };
        std::vector<Piece> pieces;
        float* target = nullptr;
        std::size_t pixels = 0;
    };
    struct Step {
        dnnl::primitive primitive;
        // Built once: the C++ execute() would build this list on every call.
        std::vector<dnnl_exec_arg_t> args;
        std::optional<Join> join;
    };

    // The first stage of the network, at half the input's size, takes most of the time. A
    // letterboxed camera picture leaves rows of black above and below it, and the rows of the
    // stage that see only those give the same values every frame: they are computed once, from a
    // black input, and the stage's convolutions then run only on the rows the picture reaches.
    struct Rows {
        int begin = 0;
        int end = 0;
        [[nodiscard]] bool empty() const { return begin >= end; }
    };
    struct Tensor {
        float* data = nullptr;
        int channels = 0;
        int height = 0;
        int width = 0;
        bool readWhole = false;  // an op after the stage reads it
        Rows reached;            // rows that the picture can change
        Rows needed;             // rows its readers read
        std::vector<float> above;
        std::vector<float> below;  // a black input's values of the needed rows outside reached
        [[nodiscard]] std::size_t rowFloats() const { return static_cast<std::size_t>(width) * channels; }
    };
    struct StageConv {
        int src = 0;
        int residual = -1;
        int out = 0;
        int kernel = 1;
        int stride = 1;
        int padTop = 0;
        dnnl::memory::dims strides, padBegin, padEnd;
        dnnl::memory weights;
        dnnl::memory bias;
        bool sum = false;
        bool relu = false;
        // Built for the picture's rows, with the memory it runs on; none when they are all the rows.
        std::optional<Step> part;
        std::vector<dnnl::memory> partMemory;
    };
    std::vector<Tensor> tensors;   // the input first
    std::vector<StageConv> stage;  // the first steps, in order
    Rows pictureRows;
    Rows builtFor;
    bool stageBroken = false;

    // For new picture rows: the rows, the parts of the convolutions, the black rows kept.
    bool prepareStage();
    void findRows();
    void buildParts();
    bool keepBlackRows();
    // The rows of t that its readers need and the picture did not reach, as a black input left them.
    void restoreOutside(const Tensor& t);
    bool execute(const Step& step);

    dnnl::engine engine{dnnl::engine::kind::cpu, 0};
    dnnl::stream stream{engine};
    std::vector<dnnl::memory> buffers;
    std::vector<dnnl::memory> keep;
    dnnl::memory scratchpad;
    std::vector<Step> steps;
    float* input = nullptr;
    int fusedAdds = 0;
    int fusedRelus = 0;
};

namespace {

// One thread for oneDNN on the calling thread, for as long as it lives; the caller's own setting
// comes back after.
class OneThread {
  public:
    OneThread() : before_(omp_get_max_threads()) { omp_set_num_threads(1); }
    ~OneThread() { omp_set_num_threads(before_); }
    OneThread(const OneThread&) = delete;
    OneThread& operator=(const OneThread&) = delete;

  private:
    int before_;
};

}  // namespace

std::unique_ptr<OneDnnBackend> OneDnnBackend::load(const std::string& path, int inputSize, std::string& error) {
    std::optional<OnnxModel> model = readOnnxModel(path, error);
    if (!model) {
        return nullptr;
    }
    std::optional<Graph> graph = onednn::importGraph(*model, inputSize, error);
    if (!graph) {
        return nullptr;
    }
    onednn::fuseResidualAdds(*graph);
    onednn::fuseRelus(*graph);
    const Graph& b = *graph;
    // Some primitives fix their thread split when they are made: make them for one thread too.
    const OneThread oneThread;
    auto net = std::make_unique<Network>();
    try {
        using dt = dnnl::memory::data_type;
        using tag = dnnl::memory::format_tag;
        const onednn::BufferPlan plan(b);
        for (const std::size_t size : plan.sizes()) {
            const auto count = static_cast<dnnl::memory::dim>((size + sizeof(float) - 1) / sizeof(float));
            net->buffers.emplace_back(dnnl::memory::desc({count}, dt::f32, tag::a), net->engine);
        }
        const auto data = [&](int v) {
            return static_cast<float*>(net->buffers[static_cast<std::size_t>(plan.bufferOf(v))].get_data_handle());
        };
        const auto memoryOf = [&](int v) {
            net->keep.emplace_back(describe(b.values[static_cast<std::size_t>(v)]), net->engine, data(v));
            return net->keep.back();
        };
        net->input = data(b.inputValue);

        dnnl::primitive_attr plainAttr;
        plainAttr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
        std::size_t scratchpadBytes = 0;
        struct Pending {
            dnnl::primitive primitive;
            std::vector<std::pair<int, dnnl::memory>> args;
        };
        const auto attrFor = [&](const Op& op, bool canSum) {
            dnnl::primitive_attr attr;
            attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
            dnnl::post_ops post;
            if (op.sum && canSum) {
                post.append_sum(1.0F);
                ++net->fusedAdds;
            }
            if (op.relu) {
                post.append_eltwise(1.0F, dnnl::algorithm::eltwise_relu, 0.0F, 0.0F);
                ++net->fusedRelus;
            }
            attr.set_post_ops(post);
            return attr;
        };
        // What each step ran, for the stage: the op, and a convolution's weights and bias.
        struct Built {
            const Op* op = nullptr;
            dnnl::memory weights;
            dnnl::memory bias;
        };
        std::vector<Built> built;
        for (const Op& op : b.ops) {
            if (op.removed) {
                continue;
            }
            built.push_back({&op, {}, {}});
            const Value& out = b.values[static_cast<std::size_t>(op.output)];
            if (op.kind == OpKind::concat) {
                Network::Join join;
                join.target = data(op.output);
                join.pixels = static_cast<std::size_t>(out.dims[0] * out.dims[2] * out.dims[3]);
                for (const int in : op.inputs) {
                    const Value& piece = b.values[static_cast<std::size_t>(in)];
                    join.pieces.push_back({piece.kind == Value::Kind::zeros ? nullptr : data(in),
                                           static_cast<std::size_t>(piece.dims[1])});
                }
                net->steps.push_back(Network::Step{{}, {}, std::move(join)});
                continue;
            }
            const int src = op.inputs[0];
            const dnnl::memory srcMem = memoryOf(src);
            const dnnl::memory dstMem = memoryOf(op.output);
            Pending p;
            dnnl::memory::desc scratch;
            if (op.kind == OpKind::conv) {
                const Dims& w = op.weights->dims;
                const dnnl::memory::dims weightDims =
                    op.groups == 1 ? dnnl::memory::dims{w[0], w[1], w[2], w[3]}
                                   : dnnl::memory::dims{op.groups, w[0] / op.groups, w[1], w[2], w[3]};
                const tag weightTag = op.groups == 1 ? tag::oihw : tag::goihw;
                const dnnl::memory::desc weightsAny(weightDims, dt::f32, tag::any);
                const dnnl::memory::desc biasDesc({w[0]}, dt::f32, tag::a);
                const dnnl::convolution_forward::desc desc(dnnl::prop_kind::forward_inference,
                                                           dnnl::algorithm::convolution_direct, srcMem.get_desc(),
                                                           weightsAny, biasDesc, dstMem.get_desc(), toDnnl(op.strides),
                                                           toDnnl(op.padBegin), toDnnl(op.padEnd));
                const dnnl::convolution_forward::primitive_desc pd(desc, attrFor(op, true), net->engine);
                // Weights into the layout the convolution wants, once.
                dnnl::memory given({weightDims, dt::f32, weightTag}, net->engine);
                std::memcpy(given.get_data_handle(), op.weights->floats.data(),
                            op.weights->floats.size() * sizeof(float));
                dnnl::memory weights(pd.weights_desc(), net->engine);
                dnnl::reorder(given, weights).execute(net->stream, given, weights);
                dnnl::memory bias(biasDesc, net->engine);
                auto* biasData = static_cast<float*>(bias.get_data_handle());
                std::fill(biasData, biasData + w[0], 0.0F);
                if (op.bias) {
                    std::copy(op.bias->floats.begin(), op.bias->floats.end(), biasData);
                }
                p.primitive = dnnl::convolution_forward(pd);
                built.back().weights = weights;
                built.back().bias = bias;
                p.args = {
                    {DNNL_ARG_SRC, srcMem}, {DNNL_ARG_WEIGHTS, weights}, {DNNL_ARG_BIAS, bias}, {DNNL_ARG_DST, dstMem}};
                scratch = pd.scratchpad_desc();
            } else if (op.kind == OpKind::maxPool) {
                const dnnl::pooling_forward::desc desc(dnnl::prop_kind::forward_inference, dnnl::algorithm::pooling_max,
                                                       srcMem.get_desc(), dstMem.get_desc(), toDnnl(op.strides),
                                                       toDnnl(op.kernel), toDnnl(op.padBegin), toDnnl(op.padEnd));
                const dnnl::pooling_forward::primitive_desc pd(desc, plainAttr, net->engine);
                p.primitive = dnnl::pooling_forward(pd);
                p.args = {{DNNL_ARG_SRC, srcMem}, {DNNL_ARG_DST, dstMem}};
                scratch = pd.scratchpad_desc();
            } else if (op.kind == OpKind::add) {
                const dnnl::memory other = memoryOf(op.inputs[1]);
                const dnnl::binary::desc desc(dnnl::algorithm::binary_add, srcMem.get_desc(), other.get_desc(),
                                              dstMem.get_desc());
                const dnnl::binary::primitive_desc pd(desc, attrFor(op, false), net->engine);
                p.primitive = dnnl::binary(pd);
                p.args = {{DNNL_ARG_SRC_0, srcMem}, {DNNL_ARG_SRC_1, other}, {DNNL_ARG_DST, dstMem}};
                scratch = pd.scratchpad_desc();
            } else {
                const dnnl::eltwise_forward::desc desc(dnnl::prop_kind::forward_inference,
                                                       dnnl::algorithm::eltwise_relu, srcMem.get_desc(), 0.0F);
                const dnnl::eltwise_forward::primitive_desc pd(desc, plainAttr, net->engine);
                p.primitive = dnnl::eltwise_forward(pd);
                p.args = {{DNNL_ARG_SRC, srcMem}, {DNNL_ARG_DST, dstMem}};
                scratch = pd.scratchpad_desc();
            }
            scratchpadBytes = std::max(scratchpadBytes, scratch.get_size());
            for (const auto& [arg, memory] : p.args) {
                net->keep.push_back(memory);
            }
            Network::Step step;
            step.primitive = p.primitive;
            for (const auto& [arg, memory] : p.args) {
                step.args.push_back({arg, memory.get()});
            }
            net->steps.push_back(std::move(step));
        }
        net->stream.wait();

        // The stage: the convolutions from the input on whose output is half the input's size,
        // reading the input or what an earlier one of them wrote.
        const auto image = [&](int v) {
            const Value& value = b.values[static_cast<std::size_t>(v)];
            Network::Tensor t;
            t.data = data(v);
            t.channels = static_cast<int>(value.dims[1]);
            t.height = static_cast<int>(value.dims[2]);
            t.width = static_cast<int>(value.dims[3]);
            return t;
        };
        std::map<int, int> tensorOf;
        const int inputGroup = b.values[static_cast<std::size_t>(b.inputValue)].group;
        const auto tensorFor = [&](int v) {
            if (b.values[static_cast<std::size_t>(v)].group == inputGroup) {
                return 0;
            }
            const auto it = tensorOf.find(v);
            return it == tensorOf.end() ? -1 : it->second;
        };
        Network::Tensor input;
        input.data = net->input;
        input.channels = 3;
        input.height = inputSize;
        input.width = inputSize;
        net->tensors.push_back(std::move(input));
        for (const Built& step : built) {
            const Op& op = *step.op;
            const Value& out = b.values[static_cast<std::size_t>(op.output)];
            const int src = tensorFor(op.inputs[0]);
            const int residual = op.sum ? tensorFor(op.residual) : -1;
            if (op.kind != OpKind::conv || out.dims[2] * 2 != inputSize || src < 0 || (op.sum && residual < 0)) {
                break;
            }
            Network::StageConv conv;
            conv.src = src;
            conv.residual = residual;
            conv.kernel = static_cast<int>(op.kernel[0]);
            conv.stride = static_cast<int>(op.strides[0]);
            conv.padTop = static_cast<int>(op.padBegin[0]);
            conv.strides = toDnnl(op.strides);
            conv.padBegin = toDnnl(op.padBegin);
            conv.padEnd = toDnnl(op.padEnd);
            conv.weights = step.weights;
            conv.bias = step.bias;
            conv.sum = op.sum;
            conv.relu = op.relu;
            conv.out = static_cast<int>(net->tensors.size());
            tensorOf[op.output] = conv.out;
            net->tensors.push_back(image(op.output));
            net->stage.push_back(std::move(conv));
        }
        for (std::size_t i = net->stage.size(); i < built.size(); ++i) {
            std::vector<int> read = built[i].op->inputs;
            read.push_back(built[i].op->residual);
            for (const int v : read) {
                if (v >= 0 && b.values[static_cast<std::size_t>(v)].kind == Value::Kind::activation &&
                    tensorFor(v) > 0) {
                    net->tensors[static_cast<std::size_t>(tensorFor(v))].readWhole = true;
                }
            }
        }
        net->pictureRows = {0, inputSize};
        net->builtFor = net->pictureRows;
        net->findRows();

        net->scratchpad =
            dnnl::memory(dnnl::memory::desc({static_cast<dnnl::memory::dim>(std::max<std::size_t>(scratchpadBytes, 1))},
                                            dt::u8, tag::a),
                         net->engine);
        for (Network::Step& step : net->steps) {
            if (!step.join) {
                step.args.push_back({DNNL_ARG_SCRATCHPAD, net->scratchpad.get()});
            }
        }
        std::vector<std::pair<const float*, std::size_t>> found;
        for (const int v : b.outputValues) {
            found.emplace_back(data(v), elements(b.values[static_cast<std::size_t>(v)].dims));
        }
        NetworkOutputs outputs;
        if (!assignOutputs(found, outputs, error)) {
            return nullptr;
        }
        std::unique_ptr<OneDnnBackend> backend(new OneDnnBackend(std::move(net)));
        backend->outputs_ = outputs;
        return backend;
    } catch (const dnnl::error& e) {
        error = std::string("oneDNN cannot build the network: ") + e.what();
        return nullptr;
    }
}

OneDnnBackend::OneDnnBackend(std::unique_ptr<Network> network) : network_(std::move(network)) {}

OneDnnBackend::~OneDnnBackend() = default;

float* OneDnnBackend::input() {
    return network_->input;
}

int OneDnnBackend::fusedAdds() const {
    return network_->fusedAdds;
}

int OneDnnBackend::fusedRelus() const {
    return network_->fusedRelus;
}

void OneDnnBackend::setPictureRows(int top, int bottom) {
    const int size = network_->tensors[0].height;
    network_->pictureRows = {std::clamp(top, 0, size), std::clamp(bottom, 0, size)};
}

void OneDnnBackend::Network::findRows() {
    const auto unite = [](Rows& into, Rows more) {
        if (!more.empty()) {
            into = into.empty() ? more : Rows{std::min(into.begin, more.begin), std::max(into.end, more.end)};
        }
    };
    // The output rows whose window meets a row the picture reached; with a residual, its rows too.
    tensors[0].reached = pictureRows;
    for (const StageConv& conv : stage) {
        const Rows in = tensors[static_cast<std::size_t>(conv.src)].reached;
        Tensor& out = tensors[static_cast<std::size_t>(conv.out)];
        out.reached = {};
        if (!in.empty()) {
            const int lowest = in.begin + conv.padTop - conv.kernel + 1;
            out.reached = {std::clamp(lowest <= 0 ? 0 : (lowest + conv.stride - 1) / conv.stride, 0, out.height),
                           std::clamp((in.end - 1 + conv.padTop) / conv.stride + 1, 0, out.height)};
        }
        if (conv.residual >= 0) {
            unite(out.reached, tensors[static_cast<std::size_t>(conv.residual)].reached);
        }
    }
    // The rows each tensor's readers read: the windows over the rows they make, and a residual's
    // rows where it is added.
    for (std::size_t t = 1; t < tensors.size(); ++t) {
        tensors[t].needed = tensors[t].readWhole ? Rows{0, tensors[t].height} : Rows{};
        tensors[t].above.clear();
        tensors[t].below.clear();
    }
    for (const StageConv& conv : stage) {
        const Rows made = tensors[static_cast<std::size_t>(conv.out)].reached;
        if (made.empty()) {
            continue;
        }
        Tensor& in = tensors[static_cast<std::size_t>(conv.src)];
        unite(in.needed, {std::max(0, made.begin * conv.stride - conv.padTop),
                          std::min(in.height, (made.end - 1) * conv.stride - conv.padTop + conv.kernel)});
        if (conv.residual >= 0) {
            unite(tensors[static_cast<std::size_t>(conv.residual)].needed, made);
        }
    }
}

void OneDnnBackend::Network::buildParts() {
    using dt = dnnl::memory::data_type;
    using tag = dnnl::memory::format_tag;
    std::size_t scratchpadBytes = scratchpad.get_desc().get_size();
    for (StageConv& conv : stage) {
        conv.part.reset();
        conv.partMemory.clear();
        const Tensor& in = tensors[static_cast<std::size_t>(conv.src)];
        Tensor& out = tensors[static_cast<std::size_t>(conv.out)];
        const Rows made = out.reached;
        if (made.empty() || (made.begin == 0 && made.end == out.height)) {
            continue;
        }
        // The window's rows for the rows made: those of the input, and padding past its edges.
        const int first = made.begin * conv.stride - conv.padTop;
        const int last = (made.end - 1) * conv.stride - conv.padTop + conv.kernel;
        const int from = std::max(0, first);
        const int to = std::min(in.height, last);
        const dnnl::memory src({{1, in.channels, to - from, in.width}, dt::f32, tag::nhwc}, engine,
                               in.data + static_cast<std::size_t>(from) * in.rowFloats());
        const dnnl::memory dst({{1, out.channels, made.end - made.begin, out.width}, dt::f32, tag::nhwc}, engine,
                               out.data + static_cast<std::size_t>(made.begin) * out.rowFloats());
        const dnnl::memory::desc weightsAny(conv.weights.get_desc().dims(), dt::f32, tag::any);
        const dnnl::convolution_forward::desc desc(dnnl::prop_kind::forward_inference,
                                                   dnnl::algorithm::convolution_direct, src.get_desc(), weightsAny,
                                                   conv.bias.get_desc(), dst.get_desc(), conv.strides,
                                                   {from - first, conv.padBegin[1]}, {last - to, conv.padEnd[1]});
        dnnl::primitive_attr attr;
        attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
        dnnl::post_ops post;
        if (conv.sum) {
            post.append_sum(1.0F);
        }
        if (conv.relu) {
            post.append_eltwise(1.0F, dnnl::algorithm::eltwise_relu, 0.0F, 0.0F);
        }
        attr.set_post_ops(post);
        const dnnl::convolution_forward::primitive_desc pd(desc, attr, engine);
        dnnl::memory weights = conv.weights;
        if (pd.weights_desc() != conv.weights.get_desc()) {
            weights = dnnl::memory(pd.weights_desc(), engine);
            dnnl::reorder(conv.weights, weights).execute(stream, conv.weights, weights);
        }
        scratchpadBytes = std::max(scratchpadBytes, pd.scratchpad_desc().get_size());
        Step step;
        step.primitive = dnnl::convolution_forward(pd);
        for (const auto& [arg, memory] : {std::pair{DNNL_ARG_SRC, src}, std::pair{DNNL_ARG_WEIGHTS, weights},
                                          std::pair{DNNL_ARG_BIAS, conv.bias}, std::pair{DNNL_ARG_DST, dst}}) {
            conv.partMemory.push_back(memory);
            step.args.push_back({arg, memory.get()});
        }
        conv.part = std::move(step);
    }
    stream.wait();
    if (scratchpadBytes > scratchpad.get_desc().get_size()) {
        scratchpad =
            dnnl::memory(dnnl::memory::desc({static_cast<dnnl::memory::dim>(scratchpadBytes)}, dt::u8, tag::a), engine);
        for (Step& step : steps) {
            for (dnnl_exec_arg_t& arg : step.args) {
                if (arg.arg == DNNL_ARG_SCRATCHPAD) {
                    arg.memory = scratchpad.get();
                }
            }
        }
    }
    for (StageConv& conv : stage) {
        if (conv.part) {
            conv.part->args.push_back({DNNL_ARG_SCRATCHPAD, scratchpad.get()});
        }
    }
}

bool OneDnnBackend::Network::execute(const Step& step) {
    return dnnl_primitive_execute(step.primitive.get(), stream.get(), static_cast<int>(step.args.size()),
                                  step.args.data()) == dnnl_success;
}

bool OneDnnBackend::Network::keepBlackRows() {
    // The stage run whole on a black input; what each tensor's readers need outside the rows the
    // picture reaches is kept.
    const Tensor& image = tensors[0];
    const std::size_t inputFloats = static_cast<std::size_t>(image.height) * image.rowFloats();
    std::vector<float> picture(image.data, image.data + inputFloats);
    std::fill(image.data, image.data + inputFloats, -1.0F);
    bool ok = true;
    for (std::size_t i = 0; i < stage.size() && ok; ++i) {
        ok = execute(steps[i]) && dnnl_stream_wait(stream.get()) == dnnl_success;
        Tensor& out = tensors[static_cast<std::size_t>(stage[i].out)];
        const auto rows = [&](int from, int to) {
            from = std::max(from, out.needed.begin);
            to = std::min(to, out.needed.end);
            return std::vector<float>(out.data + static_cast<std::size_t>(from) * out.rowFloats(),
                                      out.data + static_cast<std::size_t>(std::max(from, to)) * out.rowFloats());
        };
        out.above = rows(0, out.reached.begin);
        out.below = rows(out.reached.end, out.height);
    }
    std::copy(picture.begin(), picture.end(), image.data);
    return ok;
}

void OneDnnBackend::Network::restoreOutside(const Tensor& t) {
    const int aboveFrom = std::max(0, t.needed.begin);
    std::copy(t.above.begin(), t.above.end(), t.data + static_cast<std::size_t>(aboveFrom) * t.rowFloats());
    const int belowFrom = std::max(t.reached.end, t.needed.begin);
    std::copy(t.below.begin(), t.below.end(), t.data + static_cast<std::size_t>(belowFrom) * t.rowFloats());
}

bool OneDnnBackend::Network::prepareStage() {
    if (stageBroken || (pictureRows.begin == builtFor.begin && pictureRows.end == builtFor.end)) {
        return true;
    }
    builtFor = pictureRows;
    try {
        findRows();
        buildParts();
        if (keepBlackRows()) {
            return true;
        }
    } catch (const dnnl::error&) {
    }
    // The whole rows from then on, every frame: slower, the same values.
    stageBroken = true;
    pictureRows = {0, tensors[0].height};
    findRows();
    for (StageConv& conv : stage) {
        conv.part.reset();
    }
    return true;
}

bool OneDnnBackend::run() {
    // One thread: on a shared desktop machine a second one mostly waits for the other process.
    const OneThread oneThread;
    Network& net = *network_;
    if (!net.prepareStage()) {
        return false;
    }
    for (std::size_t i = 0; i < net.steps.size(); ++i) {
        const Network::Step& step = net.steps[i];
        if (i < net.stage.size()) {
            const Network::StageConv& conv = net.stage[i];
            const Network::Tensor& out = net.tensors[static_cast<std::size_t>(conv.out)];
            if (!out.reached.empty() && !net.execute(conv.part ? *conv.part : step)) {
                return false;
            }
            net.restoreOutside(out);
            continue;
        }
        if (step.join) {
            const Network::Join& join = *step.join;
            float* out = join.target;
            for (std::size_t p = 0; p < join.pixels; ++p) {
                for (const Network::Join::Piece& piece : join.pieces) {
                    if (piece.source != nullptr) {
                        std::memcpy(out, piece.source + p * piece.channels, piece.channels * sizeof(float));
                    } else {
                        std::memset(out, 0, piece.channels * sizeof(float));
                    }
                    out += piece.channels;
                }
            }
            continue;
        }
        if (!net.execute(step)) {
            return false;
        }
    }
    return dnnl_stream_wait(net.stream.get()) == dnnl_success;
}

}  // namespace tovak::facedetect
