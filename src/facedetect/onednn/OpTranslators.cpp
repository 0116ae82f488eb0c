#include "facedetect/onednn/OpTranslators.h"

#include <map>
#include <utility>

namespace tovak::facedetect::onednn {

namespace {

using C = ImportContext;

void requireNoAutoPad(const OnnxNode& n) {
    if (const OnnxAttribute* a = C::attribute(n, "auto_pad"); a && a->s != "NOTSET" && a->s != "VALID") {
        C::refuse(n, "auto_pad \"" + a->s + "\" is not supported");
    }
}

void requireUnitDilations(const OnnxNode& n) {
    const Dims d = C::ints(n, "dilations", {1, 1});
    if (d[0] != 1 || d[1] != 1) {
        C::refuse(n, "dilations other than 1 are not supported");
    }
}

// Shared by Conv and MaxPool: the window geometry into op, and the output it makes of in.
Value window(const OnnxNode& n, Op& op, const Dims& in, std::int64_t channels) {
    op.strides = C::ints(n, "strides", {1, 1});
    const Dims pads = C::ints(n, "pads", {0, 0, 0, 0});
    // ONNX pads are (top, left, bottom, right); the asymmetric ones matter.
    op.padBegin = {pads[0], pads[1]};
    op.padEnd = {pads[2], pads[3]};
    Value v;
    v.layout = Layout::image;
    v.dims = {in[0], channels, 0, 0};
    for (int k = 0; k < 2; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (op.strides[i] < 1 || op.padBegin[i] < 0 || op.padEnd[i] < 0) {
            C::refuse(n, "strides and pads must be positive");
        }
        const std::int64_t span = in[2 + i] + op.padBegin[i] + op.padEnd[i] - op.kernel[i];
        if (span < 0) {
            C::refuse(n, "the window is larger than the padded input");
        }
        v.dims[2 + i] = span / op.strides[i] + 1;
    }
    return v;
}

void conv(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {"kernel_shape", "strides", "pads", "dilations", "group", "auto_pad"});
    requireNoAutoPad(n);
    requireUnitDilations(n);
    Op op;
    op.kind = OpKind::conv;
    const int x = c.imageInput(n, 0);
    op.inputs = {x};
    op.weights = &c.initializer(n, 1, 1);
    if (n.inputs.size() > 2 && !n.inputs[2].empty()) {
        op.bias = &c.initializer(n, 2, 1);
    }
    const Dims& in = c.graph().value(x).dims;
    const Dims& w = op.weights->dims;
    const OnnxAttribute* g = C::attribute(n, "group");
    op.groups = g ? g->i : 1;
    if (w.size() != 4 || op.groups < 1 || in[1] % op.groups != 0 || w[0] % op.groups != 0 ||
        w[1] != in[1] / op.groups) {
        C::refuse(n, "weights " + dimsText(w) + " do not fit an input of " + dimsText(in) + " in " +
                         std::to_string(op.groups) + " groups");
    }
    if (op.bias && (op.bias->dims.size() != 1 || op.bias->dims[0] != w[0])) {
        C::refuse(n, "bias " + dimsText(op.bias->dims) + " does not fit " + std::to_string(w[0]) + " outputs");
    }
    op.kernel = C::ints(n, "kernel_shape", {w[2], w[3]});
    if (op.kernel != Dims{w[2], w[3]}) {
        C::refuse(n, "kernel_shape differs from the weights");
    }
    Value v = window(n, op, in, w[0]);
    c.addOp(std::move(op), std::move(v), n.outputs[0]);
}

void maxPool(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {"kernel_shape", "strides", "pads", "dilations", "auto_pad", "ceil_mode", "storage_order"});
    requireNoAutoPad(n);
    requireUnitDilations(n);
    for (const char* flag : {"ceil_mode", "storage_order"}) {
        if (const OnnxAttribute* a = C::attribute(n, flag); a && a->i != 0) {
            C::refuse(n, std::string(flag) + " other than 0 is not supported");
        }
    }
    Op op;
    op.kind = OpKind::maxPool;
    const int x = c.imageInput(n, 0);
    op.inputs = {x};
    op.kernel = C::ints(n, "kernel_shape", {0, 0});
    if (op.kernel[0] < 1 || op.kernel[1] < 1) {
        C::refuse(n, "kernel_shape is missing");
    }
    const Dims& in = c.graph().value(x).dims;
    Value v = window(n, op, in, in[1]);
    c.addOp(std::move(op), std::move(v), n.outputs[0]);
}

void relu(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {});
    Op op;
    op.kind = OpKind::relu;
    const int x = c.activation(n, 0);
    op.inputs = {x};
    Value v = c.graph().value(x);
    v.consumers.clear();
    c.addOp(std::move(op), std::move(v), n.outputs[0]);
}

void add(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {});
    Op op;
    op.kind = OpKind::add;
    const int a = c.activation(n, 0);
    const int b = c.activation(n, 1);
    const Value& va = c.graph().value(a);
    const Value& vb = c.graph().value(b);
    if (va.dims != vb.dims || va.layout != vb.layout) {
        C::refuse(n, "broadcasting " + dimsText(va.dims) + " and " + dimsText(vb.dims) + " is not supported");
    }
    op.inputs = {a, b};
    Value v = va;
    v.consumers.clear();
    c.addOp(std::move(op), std::move(v), n.outputs[0]);
}

void transpose(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {"perm"});
    const int x = c.activation(n, 0);
    Value v = c.graph().value(x);
    v.consumers.clear();
    const Dims perm = C::ints(n, "perm", {0, 1, 2, 3});
    const Dims& d = v.dims;
    // Only the two that change nothing in memory: NHWC read as NCHW, and back.
    if (v.layout == Layout::plain && d.size() == 4 && perm == Dims{0, 3, 1, 2}) {
        v.layout = Layout::image;
        v.dims = {d[0], d[3], d[1], d[2]};
    } else if (v.layout == Layout::image && perm == Dims{0, 2, 3, 1}) {
        v.layout = Layout::plain;
        v.dims = {d[0], d[2], d[3], d[1]};
    } else {
        C::refuse(n, "perm " + dimsText(perm) + " of a tensor " + dimsText(d) + " is not supported");
    }
    c.defineAlias(n.outputs[0], x, std::move(v));
}

// The dimensions a Reshape to shape gives a tensor of from: 0 keeps a dimension, one -1 takes the rest.
Dims reshaped(const OnnxNode& n, const OnnxTensor& shape, const Dims& from) {
    Dims dims = shape.ints;
    std::int64_t known = 1;
    int unknown = -1;
    for (std::size_t i = 0; i < dims.size(); ++i) {
        if (dims[i] == 0 && i < from.size()) {
            dims[i] = from[i];
        }
        if (dims[i] == -1 && unknown < 0) {
            unknown = static_cast<int>(i);
        } else if (dims[i] < 1) {
            C::refuse(n, "shape " + dimsText(shape.ints) + " is not supported");
        } else {
            known *= dims[i];
        }
    }
    const auto total = static_cast<std::int64_t>(elements(from));
    if (unknown >= 0) {
        dims[static_cast<std::size_t>(unknown)] = known > 0 ? total / known : 0;
    }
    if (static_cast<std::int64_t>(elements(dims)) != total) {
        C::refuse(n, "shape " + dimsText(shape.ints) + " does not hold " + dimsText(from));
    }
    return dims;
}

void reshape(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {"allowzero"});
    if (const OnnxAttribute* a = C::attribute(n, "allowzero"); a && a->i != 0) {
        C::refuse(n, "allowzero is not supported");
    }
    const int x = c.activation(n, 0);
    Value v = c.graph().value(x);
    v.consumers.clear();
    if (v.layout != Layout::plain) {
        C::refuse(n, "reshaping an NCHW image tensor is not supported");
    }
    v.dims = reshaped(n, c.initializer(n, 1, 7), v.dims);
    c.defineAlias(n.outputs[0], x, std::move(v));
}

void constantOfShape(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {"value"});
    if (const OnnxAttribute* a = C::attribute(n, "value");
        a &&
        (!a->tensor || a->tensor->dataType != 1 || a->tensor->floats.size() != 1 || a->tensor->floats[0] != 0.0F)) {
        C::refuse(n, "only a float zero is supported as the value");
    }
    const OnnxTensor& shape = c.initializer(n, 0, 7);
    Value v;
    v.kind = Value::Kind::zeros;
    v.dims = shape.ints;
    v.layout = Layout::image;
    c.define(n.outputs[0], std::move(v));
}

void concat(C& c, const OnnxNode& n) {
    C::allowAttributes(n, {"axis"});
    const OnnxAttribute* axis = C::attribute(n, "axis");
    if (axis == nullptr || !(axis->i == 1 || axis->i == -3)) {
        C::refuse(n, "only channels (axis 1) can be joined");
    }
    Op op;
    op.kind = OpKind::concat;
    Value v;
    v.layout = Layout::image;
    bool computed = false;
    const Graph& g = c.graph();
    for (const std::string& input : n.inputs) {
        const auto it = g.byName.find(input);
        if (it == g.byName.end() || g.value(it->second).kind == Value::Kind::constant) {
            C::refuse(n, "input \"" + input + "\" is neither computed nor zeros");
        }
        const Value& piece = g.value(it->second);
        if (piece.dims.size() != 4 || piece.layout != Layout::image) {
            C::refuse(n, "input \"" + input + "\" is not an NCHW image tensor");
        }
        if (v.dims.empty()) {
            v.dims = piece.dims;
            v.dims[1] = 0;
        } else if (piece.dims[0] != v.dims[0] || piece.dims[2] != v.dims[2] || piece.dims[3] != v.dims[3]) {
            C::refuse(n, "inputs differ in size outside the channels");
        }
        v.dims[1] += piece.dims[1];
        computed = computed || piece.kind == Value::Kind::activation;
        op.inputs.push_back(it->second);
    }
    if (!computed) {
        C::refuse(n, "joins no computed tensor");
    }
    c.addOp(std::move(op), std::move(v), n.outputs[0]);
}

}  // namespace

TranslateNode translatorFor(const std::string& opType) {
    static const std::map<std::string, TranslateNode> translators = {
        {"Conv", conv},
        {"MaxPool", maxPool},
        {"Relu", relu},
        {"Add", add},
        {"Transpose", transpose},
        {"Reshape", reshape},
        {"ConstantOfShape", constantOfShape},
        {"Concat", concat},
    };
    const auto it = translators.find(opType);
    return it == translators.end() ? nullptr : it->second;
}

}  // namespace tovak::facedetect::onednn
