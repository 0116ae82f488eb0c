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

namespace tovak::facedetect {

namespace {

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

std::size_t elements(const Dims& dims) {
    return std::accumulate(dims.begin(), dims.end(), std::size_t{1},
                           [](std::size_t a, std::int64_t d) { return a * static_cast<std::size_t>(d); });
}

std::string dimsText(const Dims& dims) {
    std::string text = "[";
    for (std::size_t i = 0; i < dims.size(); ++i) {
        text += (i ? "," : "") + std::to_string(dims[i]);
    }
    return text + "]";
}

struct Refusal {
    std::string message;
};

class Builder {
  public:
    Builder(const OnnxModel& model, int inputSize) : model_(model), inputSize_(inputSize) {}

    // Translates the graph into ops on values; false, with the reason, for anything outside the
    // supported set.
    bool translate(std::string& error);
    void fuse();

    std::vector<Value> values;
    std::vector<Op> ops;
    int inputValue = -1;
    std::vector<int> outputValues;

  private:
    void node(const OnnxNode& n);
    int activation(const OnnxNode& n, std::size_t index);
    const OnnxTensor& initializer(const OnnxNode& n, std::size_t index, int dataType);
    void define(const std::string& name, Value value);
    static void allowAttributes(const OnnxNode& n, std::initializer_list<const char*> allowed);
    static const OnnxAttribute* attribute(const OnnxNode& n, const char* name);
    static Dims ints(const OnnxNode& n, const char* name, Dims fallback);
    int addOp(Op op, Value out, const std::string& name);
    int groupLastUseExcept(int group, int exceptOp) const;

    const OnnxModel& model_;
    int inputSize_;
    std::map<std::string, int> byName_;
};

[[noreturn]] void refuse(const OnnxNode& n, const std::string& what) {
    throw Refusal{"operator " + n.opType + (n.name.empty() ? "" : " \"" + n.name + "\"") + ": " + what};
}

const OnnxAttribute* Builder::attribute(const OnnxNode& n, const char* name) {
    for (const OnnxAttribute& a : n.attributes) {
        if (a.name == name) {
            return &a;
        }
    }
    return nullptr;
}

void Builder::allowAttributes(const OnnxNode& n, std::initializer_list<const char*> allowed) {
    for (const OnnxAttribute& a : n.attributes) {
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* name) { return a.name == name; })) {
            refuse(n, "attribute \"" + a.name + "\" is not supported");
        }
    }
}

Dims Builder::ints(const OnnxNode& n, const char* name, Dims fallback) {
    const OnnxAttribute* a = attribute(n, name);
    if (a == nullptr) {
        return fallback;
    }
    if (a->kind != "ints" || a->ints.size() != fallback.size()) {
        refuse(n, std::string("attribute \"") + name + "\" must be " + std::to_string(fallback.size()) + " integers");
    }
    return a->ints;
}

int Builder::activation(const OnnxNode& n, std::size_t index) {
    if (index >= n.inputs.size()) {
        refuse(n, "input " + std::to_string(index) + " is missing");
    }
    const auto it = byName_.find(n.inputs[index]);
    if (it == byName_.end() || values[static_cast<std::size_t>(it->second)].kind != Value::Kind::activation) {
        refuse(n, "input \"" + n.inputs[index] + "\" is not a computed tensor");
    }
    return it->second;
}

const OnnxTensor& Builder::initializer(const OnnxNode& n, std::size_t index, int dataType) {
    const auto it = index < n.inputs.size() ? model_.initializers.find(n.inputs[index]) : model_.initializers.end();
    if (it == model_.initializers.end() || it->second.dataType != dataType) {
        refuse(n, "input " + std::to_string(index) + " must be a constant of ONNX type " + std::to_string(dataType));
    }
    return it->second;
}

void Builder::define(const std::string& name, Value value) {
    values.push_back(std::move(value));
    byName_[name] = static_cast<int>(values.size()) - 1;
}

int Builder::addOp(Op op, Value out, const std::string& name) {
    const int index = static_cast<int>(ops.size());
    out.kind = Value::Kind::activation;
    out.producer = index;
    out.group = static_cast<int>(values.size());
    define(name, std::move(out));
    op.output = static_cast<int>(values.size()) - 1;
    for (const int in : op.inputs) {
        values[static_cast<std::size_t>(in)].consumers.push_back(index);
    }
    ops.push_back(std::move(op));
    return index;
}

void Builder::node(const OnnxNode& n) {
    if (!n.domain.empty() && n.domain != "ai.onnx") {
        refuse(n, "domain \"" + n.domain + "\" is not supported");
    }
    if (n.outputs.size() != 1) {
        refuse(n, "only one output is supported");
    }
    const std::string& out = n.outputs[0];
    const auto imageInput = [&](std::size_t index) {
        const int v = activation(n, index);
        if (values[static_cast<std::size_t>(v)].layout != Layout::image) {
            refuse(n, "input \"" + n.inputs[index] + "\" is not an NCHW image tensor");
        }
        return v;
    };
    const auto autoPad = [&]() {
        if (const OnnxAttribute* a = attribute(n, "auto_pad"); a && a->s != "NOTSET" && a->s != "VALID") {
            refuse(n, "auto_pad \"" + a->s + "\" is not supported");
        }
    };
    const auto unitDilations = [&]() {
        const Dims d = ints(n, "dilations", {1, 1});
        if (d[0] != 1 || d[1] != 1) {
            refuse(n, "dilations other than 1 are not supported");
        }
    };
    // Shared by Conv and MaxPool: the window geometry and the output size.
    const auto window = [&](Op& op, const Dims& in, std::int64_t channels) {
        op.strides = ints(n, "strides", {1, 1});
        const Dims pads = ints(n, "pads", {0, 0, 0, 0});
        // ONNX pads are (top, left, bottom, right); the asymmetric ones matter.
        op.padBegin = {pads[0], pads[1]};
        op.padEnd = {pads[2], pads[3]};
        Value v;
        v.layout = Layout::image;
        v.dims = {in[0], channels, 0, 0};
        for (int k = 0; k < 2; ++k) {
            const std::size_t i = static_cast<std::size_t>(k);
            if (op.strides[i] < 1 || op.padBegin[i] < 0 || op.padEnd[i] < 0) {
                refuse(n, "strides and pads must be positive");
            }
            const std::int64_t span = in[2 + i] + op.padBegin[i] + op.padEnd[i] - op.kernel[i];
            if (span < 0) {
                refuse(n, "the window is larger than the padded input");
            }
            v.dims[2 + i] = span / op.strides[i] + 1;
        }
        return v;
    };

    if (n.opType == "Conv") {
        allowAttributes(n, {"kernel_shape", "strides", "pads", "dilations", "group", "auto_pad"});
        autoPad();
        unitDilations();
        Op op;
        op.kind = OpKind::conv;
        const int x = imageInput(0);
        op.inputs = {x};
        op.weights = &initializer(n, 1, 1);
        if (n.inputs.size() > 2 && !n.inputs[2].empty()) {
            op.bias = &initializer(n, 2, 1);
        }
        const Dims& in = values[static_cast<std::size_t>(x)].dims;
        const Dims& w = op.weights->dims;
        const OnnxAttribute* g = attribute(n, "group");
        op.groups = g ? g->i : 1;
        if (w.size() != 4 || op.groups < 1 || in[1] % op.groups != 0 || w[0] % op.groups != 0 ||
            w[1] != in[1] / op.groups) {
            refuse(n, "weights " + dimsText(w) + " do not fit an input of " + dimsText(in) + " in " +
                          std::to_string(op.groups) + " groups");
        }
        if (op.bias && (op.bias->dims.size() != 1 || op.bias->dims[0] != w[0])) {
            refuse(n, "bias " + dimsText(op.bias->dims) + " does not fit " + std::to_string(w[0]) + " outputs");
        }
        op.kernel = ints(n, "kernel_shape", {w[2], w[3]});
        if (op.kernel != Dims{w[2], w[3]}) {
            refuse(n, "kernel_shape differs from the weights");
        }
        Value v = window(op, in, w[0]);
        addOp(std::move(op), std::move(v), out);
    } else if (n.opType == "MaxPool") {
        allowAttributes(n, {"kernel_shape", "strides", "pads", "dilations", "auto_pad", "ceil_mode", "storage_order"});
        autoPad();
        unitDilations();
        for (const char* flag : {"ceil_mode", "storage_order"}) {
            if (const OnnxAttribute* a = attribute(n, flag); a && a->i != 0) {
                refuse(n, std::string(flag) + " other than 0 is not supported");
            }
        }
        Op op;
        op.kind = OpKind::maxPool;
        const int x = imageInput(0);
        op.inputs = {x};
        op.kernel = ints(n, "kernel_shape", {0, 0});
        if (op.kernel[0] < 1 || op.kernel[1] < 1) {
            refuse(n, "kernel_shape is missing");
        }
        const Dims& in = values[static_cast<std::size_t>(x)].dims;
        Value v = window(op, in, in[1]);
        addOp(std::move(op), std::move(v), out);
    } else if (n.opType == "Relu") {
        allowAttributes(n, {});
        Op op;
        op.kind = OpKind::relu;
        const int x = activation(n, 0);
        op.inputs = {x};
        Value v = values[static_cast<std::size_t>(x)];
        v.consumers.clear();
        addOp(std::move(op), std::move(v), out);
    } else if (n.opType == "Add") {
        allowAttributes(n, {});
        Op op;
        op.kind = OpKind::add;
        const int a = activation(n, 0);
        const int b = activation(n, 1);
        const Value& va = values[static_cast<std::size_t>(a)];
        const Value& vb = values[static_cast<std::size_t>(b)];
        if (va.dims != vb.dims || va.layout != vb.layout) {
            refuse(n, "broadcasting " + dimsText(va.dims) + " and " + dimsText(vb.dims) + " is not supported");
        }
        op.inputs = {a, b};
        Value v = va;
        v.consumers.clear();
        addOp(std::move(op), std::move(v), out);
    } else if (n.opType == "Transpose") {
        allowAttributes(n, {"perm"});
        const int x = activation(n, 0);
        Value v = values[static_cast<std::size_t>(x)];
        v.consumers.clear();
        const Dims perm = ints(n, "perm", {0, 1, 2, 3});
        const Dims& d = v.dims;
        // Only the two that change nothing in memory: NHWC read as NCHW, and back.
        if (v.layout == Layout::plain && d.size() == 4 && perm == Dims{0, 3, 1, 2}) {
            v.layout = Layout::image;
            v.dims = {d[0], d[3], d[1], d[2]};
        } else if (v.layout == Layout::image && perm == Dims{0, 2, 3, 1}) {
            v.layout = Layout::plain;
            v.dims = {d[0], d[2], d[3], d[1]};
        } else {
            refuse(n, "perm " + dimsText(perm) + " of a tensor " + dimsText(d) + " is not supported");
        }
        // An alias is no op, but counts as a reader of its source where the next op runs, so that
        // nothing is fused over a value that is read through another name.
        values[static_cast<std::size_t>(x)].consumers.push_back(static_cast<int>(ops.size()));
        define(out, std::move(v));
    } else if (n.opType == "Reshape") {
        allowAttributes(n, {"allowzero"});
        if (const OnnxAttribute* a = attribute(n, "allowzero"); a && a->i != 0) {
            refuse(n, "allowzero is not supported");
        }
        const int x = activation(n, 0);
        Value v = values[static_cast<std::size_t>(x)];
        v.consumers.clear();
        if (v.layout != Layout::plain) {
            refuse(n, "reshaping an NCHW image tensor is not supported");
        }
        const OnnxTensor& shape = initializer(n, 1, 7);
        Dims dims = shape.ints;
        std::int64_t known = 1;
        int unknown = -1;
        for (std::size_t i = 0; i < dims.size(); ++i) {
            if (dims[i] == 0 && i < v.dims.size()) {
                dims[i] = v.dims[i];
            }
            if (dims[i] == -1 && unknown < 0) {
                unknown = static_cast<int>(i);
            } else if (dims[i] < 1) {
                refuse(n, "shape " + dimsText(shape.ints) + " is not supported");
            } else {
                known *= dims[i];
            }
        }
        const auto total = static_cast<std::int64_t>(elements(v.dims));
        if (unknown >= 0) {
            dims[static_cast<std::size_t>(unknown)] = known > 0 ? total / known : 0;
        }
        if (static_cast<std::int64_t>(elements(dims)) != total) {
            refuse(n, "shape " + dimsText(shape.ints) + " does not hold " + dimsText(v.dims));
        }
        v.dims = dims;
        values[static_cast<std::size_t>(x)].consumers.push_back(static_cast<int>(ops.size()));
        define(out, std::move(v));
    } else if (n.opType == "ConstantOfShape") {
        allowAttributes(n, {"value"});
        if (const OnnxAttribute* a = attribute(n, "value");
            a &&
            (!a->tensor || a->tensor->dataType != 1 || a->tensor->floats.size() != 1 || a->tensor->floats[0] != 0.0F)) {
            refuse(n, "only a float zero is supported as the value");
        }
        const OnnxTensor& shape = initializer(n, 0, 7);
        Value v;
        v.kind = Value::Kind::zeros;
        v.dims = shape.ints;
        v.layout = Layout::image;
        define(out, std::move(v));
    } else if (n.opType == "Concat") {
        allowAttributes(n, {"axis"});
        const OnnxAttribute* axis = attribute(n, "axis");
        if (axis == nullptr || !(axis->i == 1 || axis->i == -3)) {
            refuse(n, "only channels (axis 1) can be joined");
        }
        Op op;
        op.kind = OpKind::concat;
        Value v;
        v.layout = Layout::image;
        bool computed = false;
        for (std::size_t i = 0; i < n.inputs.size(); ++i) {
            const auto it = byName_.find(n.inputs[i]);
            if (it == byName_.end() || values[static_cast<std::size_t>(it->second)].kind == Value::Kind::constant) {
                refuse(n, "input \"" + n.inputs[i] + "\" is neither computed nor zeros");
            }
            const Value& piece = values[static_cast<std::size_t>(it->second)];
            if (piece.dims.size() != 4 || piece.layout != Layout::image) {
                refuse(n, "input \"" + n.inputs[i] + "\" is not an NCHW image tensor");
            }
            if (v.dims.empty()) {
                v.dims = piece.dims;
                v.dims[1] = 0;
            } else if (piece.dims[0] != v.dims[0] || piece.dims[2] != v.dims[2] || piece.dims[3] != v.dims[3]) {
                refuse(n, "inputs differ in size outside the channels");
            }
            v.dims[1] += piece.dims[1];
            computed = computed || piece.kind == Value::Kind::activation;
            op.inputs.push_back(it->second);
        }
        if (!computed) {
            refuse(n, "joins no computed tensor");
        }
        addOp(std::move(op), std::move(v), out);
    } else {
        refuse(n, "not a supported operator");
    }
}

bool Builder::translate(std::string& error) {
    try {
        if (model_.inputs.size() != 1) {
            throw Refusal{"the model has " + std::to_string(model_.inputs.size()) + " inputs, not one"};
        }
        const Dims expected{1, inputSize_, inputSize_, 3};
        Dims declared = model_.inputs[0].dims;
        if (!declared.empty() && declared[0] < 1) {
            declared[0] = 1;
        }
        if (declared != expected) {
            throw Refusal{"the model's input " + dimsText(declared) + " is not " + dimsText(expected)};
        }
        Value input;
        input.dims = expected;
        input.group = 0;
        define(model_.inputs[0].name, std::move(input));
        inputValue = 0;
        for (const auto& [name, tensor] : model_.initializers) {
            Value v;
            v.kind = Value::Kind::constant;
            v.constant = &tensor;
            v.dims = tensor.dims;
            define(name, std::move(v));
        }
        for (const OnnxNode& n : model_.nodes) {
            node(n);
        }
        for (const OnnxValueInfo& info : model_.outputs) {
            const auto it = byName_.find(info.name);
            if (it == byName_.end() || values[static_cast<std::size_t>(it->second)].kind != Value::Kind::activation ||
                values[static_cast<std::size_t>(it->second)].layout != Layout::plain) {
                throw Refusal{"output \"" + info.name + "\" is not a computed row-major tensor"};
            }
            values[static_cast<std::size_t>(it->second)].graphOutput = true;
            outputValues.push_back(it->second);
        }
    } catch (const Refusal& refusal) {
        error = refusal.message;
        return false;
    }
    return true;
}

int Builder::groupLastUseExcept(int group, int exceptOp) const {
    int last = -1;
    for (const Value& v : values) {
        if (v.group != group) {
            continue;
        }
        if (v.graphOutput) {
            return INT_MAX;
        }
        for (const int c : v.consumers) {
            if (c != exceptOp) {
                last = std::max(last, c);
            }
        }
    }
    return last;
}

void Builder::fuse() {
    const auto regroup = [&](int from, int to) {
        for (Value& v : values) {
            if (v.group == from) {
                v.group = to;
            }
        }
    };
    // Residual: Add(r, conv(x)) becomes the convolution writing conv(x) + r over r, when nothing
    // reads r (or what shares its buffer) from the convolution on.
    for (std::size_t i = 0; i < ops.size(); ++i) {
        Op& add = ops[i];
        if (add.kind != OpKind::add) {
            continue;
        }
        for (const std::size_t k : {std::size_t{1}, std::size_t{0}}) {
            const int c = add.inputs[k];
            const int r = add.inputs[1 - k];
            const Value& cv = values[static_cast<std::size_t>(c)];
            const Value& rv = values[static_cast<std::size_t>(r)];
            if (cv.producer < 0 || cv.graphOutput || cv.consumers.size() != 1 || rv.graphOutput) {
                continue;
            }
            Op& conv = ops[static_cast<std::size_t>(cv.producer)];
            if (conv.kind != OpKind::conv || conv.removed || conv.sum || conv.relu || cv.layout != Layout::image ||
                rv.group == values[static_cast<std::size_t>(inputValue)].group || rv.producer >= cv.producer ||
                groupLastUseExcept(rv.group, static_cast<int>(i)) >= cv.producer) {
                continue;
            }
            conv.sum = true;
            conv.residual = r;
            conv.output = add.output;
            add.removed = true;
            const int target = rv.group;
            regroup(cv.group, target);
            values[static_cast<std::size_t>(add.output)].group = target;
            values[static_cast<std::size_t>(add.output)].producer = cv.producer;
            break;
        }
    }
    // Relu after a convolution or a sum that nothing else reads runs as their last step.
    for (Op& relu : ops) {
        if (relu.kind != OpKind::relu) {
            continue;
        }
        const Value& x = values[static_cast<std::size_t>(relu.inputs[0])];
        if (x.producer < 0 || x.graphOutput || x.consumers.size() != 1) {
            continue;
        }
        Op& producer = ops[static_cast<std::size_t>(x.producer)];
        if ((producer.kind != OpKind::conv && producer.kind != OpKind::add) || producer.removed || producer.relu) {
            continue;
        }
        producer.relu = true;
        producer.output = relu.output;
        relu.removed = true;
        Value& y = values[static_cast<std::size_t>(relu.output)];
        regroup(y.group, x.group);
        y.producer = x.producer;
    }
}

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

// Buffers for the activation groups, reused once a group's last reader has run.
std::vector<int> assignBuffers(const Builder& b, std::vector<std::size_t>& sizes) {
    std::map<int, std::size_t> bytes;
    std::map<int, int> lastUse;
    std::map<int, int> firstWrite;
    for (const Value& v : b.values) {
        if (v.kind != Value::Kind::activation) {
            continue;
        }
        bytes[v.group] = std::max(bytes[v.group], elements(v.dims) * sizeof(float));
        int& last = lastUse.try_emplace(v.group, -1).first->second;
        for (const int c : v.consumers) {
            last = std::max(last, c);
        }
        if (v.graphOutput || v.producer < 0) {
            last = INT_MAX;
        }
        const int write = v.producer < 0 ? -1 : v.producer;
        firstWrite.try_emplace(v.group, write);
        firstWrite[v.group] = std::min(firstWrite[v.group], write);
    }
    std::vector<int> bufferOf(b.values.size(), -1);
    std::map<int, int> groupBuffer;
    std::vector<int> freeBuffers;
    const auto take = [&](int group) {
        const std::size_t need = bytes[group];
        // The smallest free buffer that holds it, else the largest one, grown.
        auto best = freeBuffers.end();
        for (auto it = freeBuffers.begin(); it != freeBuffers.end(); ++it) {
            if (best == freeBuffers.end()) {
                best = it;
                continue;
            }
            const std::size_t have = sizes[static_cast<std::size_t>(*it)];
            const std::size_t bestHave = sizes[static_cast<std::size_t>(*best)];
            const bool fits = have >= need;
            const bool bestFits = bestHave >= need;
            if ((fits && (!bestFits || have < bestHave)) || (!fits && !bestFits && have > bestHave)) {
                best = it;
            }
        }
        int buffer = 0;
        if (best != freeBuffers.end()) {
            buffer = *best;
            freeBuffers.erase(best);
        } else {
            buffer = static_cast<int>(sizes.size());
            sizes.push_back(0);
        }
        sizes[static_cast<std::size_t>(buffer)] = std::max(sizes[static_cast<std::size_t>(buffer)], need);
        groupBuffer[group] = buffer;
    };
    for (const auto& [group, write] : firstWrite) {
        if (write < 0) {
            take(group);
        }
    }
    for (int i = 0; i < static_cast<int>(b.ops.size()); ++i) {
        for (const auto& [group, write] : firstWrite) {
            if (write == i) {
                take(group);
            }
        }
        for (const auto& [group, last] : lastUse) {
            if (last == i) {
                freeBuffers.push_back(groupBuffer[group]);
            }
        }
    }
    for (std::size_t v = 0; v < b.values.size(); ++v) {
        if (b.values[v].kind == Value::Kind::activation) {
            bufferOf[v] = groupBuffer[b.values[v].group];
        }
    }
    return bufferOf;
}

}  // namespace

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
    Builder b(*model, inputSize);
    if (!b.translate(error)) {
        return nullptr;
    }
    b.fuse();
    // Some primitives fix their thread split when they are made: make them for one thread too.
    const OneThread oneThread;
    auto net = std::make_unique<Network>();
    try {
        using dt = dnnl::memory::data_type;
        using tag = dnnl::memory::format_tag;
        std::vector<std::size_t> sizes;
        const std::vector<int> bufferOf = assignBuffers(b, sizes);
        for (const std::size_t size : sizes) {
            const auto count = static_cast<dnnl::memory::dim>((size + sizeof(float) - 1) / sizeof(float));
            net->buffers.emplace_back(dnnl::memory::desc({count}, dt::f32, tag::a), net->engine);
        }
        const auto data = [&](int v) {
            return static_cast<float*>(
                net->buffers[static_cast<std::size_t>(bufferOf[static_cast<std::size_t>(v)])].get_data_handle());
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
