#include "facedetect/onednn/ImportContext.h"

#include <algorithm>
#include <utility>

namespace tovak::facedetect::onednn {

void ImportContext::refuse(const OnnxNode& n, const std::string& what) {
    throw ImportRefusal{"operator " + n.opType + (n.name.empty() ? "" : " \"" + n.name + "\"") + ": " + what};
}

const OnnxAttribute* ImportContext::attribute(const OnnxNode& n, const char* name) {
    for (const OnnxAttribute& a : n.attributes) {
        if (a.name == name) {
            return &a;
        }
    }
    return nullptr;
}

void ImportContext::allowAttributes(const OnnxNode& n, std::initializer_list<const char*> allowed) {
    for (const OnnxAttribute& a : n.attributes) {
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* name) { return a.name == name; })) {
            refuse(n, "attribute \"" + a.name + "\" is not supported");
        }
    }
}

Dims ImportContext::ints(const OnnxNode& n, const char* name, Dims fallback) {
    const OnnxAttribute* a = attribute(n, name);
    if (a == nullptr) {
        return fallback;
    }
    if (a->kind != "ints" || a->ints.size() != fallback.size()) {
        refuse(n, std::string("attribute \"") + name + "\" must be " + std::to_string(fallback.size()) + " integers");
    }
    return a->ints;
}

int ImportContext::activation(const OnnxNode& n, std::size_t index) {
    if (index >= n.inputs.size()) {
        refuse(n, "input " + std::to_string(index) + " is missing");
    }
    const auto it = graph_.byName.find(n.inputs[index]);
    if (it == graph_.byName.end() || graph_.value(it->second).kind != Value::Kind::activation) {
        refuse(n, "input \"" + n.inputs[index] + "\" is not a computed tensor");
    }
    return it->second;
}

int ImportContext::imageInput(const OnnxNode& n, std::size_t index) {
    const int v = activation(n, index);
    if (graph_.value(v).layout != Layout::image) {
        refuse(n, "input \"" + n.inputs[index] + "\" is not an NCHW image tensor");
    }
    return v;
}

const OnnxTensor& ImportContext::initializer(const OnnxNode& n, std::size_t index, int dataType) const {
    const auto it = index < n.inputs.size() ? model_.initializers.find(n.inputs[index]) : model_.initializers.end();
    if (it == model_.initializers.end() || it->second.dataType != dataType) {
        refuse(n, "input " + std::to_string(index) + " must be a constant of ONNX type " + std::to_string(dataType));
    }
    return it->second;
}

void ImportContext::define(const std::string& name, Value value) {
    graph_.values.push_back(std::move(value));
    graph_.byName[name] = static_cast<int>(graph_.values.size()) - 1;
}

void ImportContext::defineAlias(const std::string& name, int source, Value value) {
    graph_.value(source).consumers.push_back(static_cast<int>(graph_.ops.size()));
    define(name, std::move(value));
}

int ImportContext::addOp(Op op, Value out, const std::string& name) {
    const int index = static_cast<int>(graph_.ops.size());
    out.kind = Value::Kind::activation;
    out.producer = index;
    out.group = static_cast<int>(graph_.values.size());
    define(name, std::move(out));
    op.output = static_cast<int>(graph_.values.size()) - 1;
    for (const int in : op.inputs) {
        graph_.value(in).consumers.push_back(index);
    }
    graph_.ops.push_back(std::move(op));
    return index;
}

}  // namespace tovak::facedetect::onednn
