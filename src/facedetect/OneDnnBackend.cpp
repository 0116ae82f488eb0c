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
    // Fusion: the convolution adds the value already in its output buffer, then applies Relu.
    bool sum = false;
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
        for (const Op& op : b.ops) {
            if (op.removed) {
                continue;
            }
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

bool OneDnnBackend::run() {
    // One thread: on a shared desktop machine a second one mostly waits for the other process.
    const OneThread oneThread;
    Network& net = *network_;
    for (const Network::Step& step : net.steps) {
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
        if (dnnl_primitive_execute(step.primitive.get(), net.stream.get(), static_cast<int>(step.args.size()),
                                   step.args.data()) != dnnl_success) {
            return false;
        }
    }
    return dnnl_stream_wait(net.stream.get()) == dnnl_success;
}

}  // namespace tovak::facedetect
