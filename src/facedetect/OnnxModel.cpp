#include "facedetect/OnnxModel.h"

#include <onnx/onnx_pb.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace tovak::facedetect {

namespace {

// Raw data is little-endian, as this machine is.
template <typename T>
bool readRaw(const std::string& raw, std::size_t count, std::vector<T>& out) {
    // Divided, not multiplied: a count times the size could wrap around to the bytes there are.
    if (raw.size() % sizeof(T) != 0 || raw.size() / sizeof(T) != count) {
        return false;
    }
    out.resize(count);
    // An empty tensor has no buffer to copy into, not even a zero-length one.
    if (count > 0) {
        std::memcpy(out.data(), raw.data(), raw.size());
    }
    return true;
}

bool convertTensor(const onnx::TensorProto& proto, OnnxTensor& tensor, std::string& error) {
    tensor.dims.assign(proto.dims().begin(), proto.dims().end());
    tensor.dataType = proto.data_type();
    std::size_t count = 1;
    for (const std::int64_t d : tensor.dims) {
        if (d < 0) {
            error = "tensor \"" + proto.name() + "\" has a negative dimension";
            return false;
        }
        // A shape whose count wraps around would pass for one that holds as many numbers as read.
        if (__builtin_mul_overflow(count, static_cast<std::size_t>(d), &count)) {
            error = "tensor \"" + proto.name() + "\" has a shape too large to hold";
            return false;
        }
    }
    if (proto.data_location() == onnx::TensorProto::EXTERNAL) {
        error = "tensor \"" + proto.name() + "\" keeps its data in another file";
        return false;
    }
    bool ok = true;
    if (tensor.dataType == onnx::TensorProto::FLOAT) {
        ok = proto.has_raw_data() ? readRaw(proto.raw_data(), count, tensor.floats)
                                  : static_cast<std::size_t>(proto.float_data_size()) == count;
        if (ok && !proto.has_raw_data()) {
            tensor.floats.assign(proto.float_data().begin(), proto.float_data().end());
        }
    } else if (tensor.dataType == onnx::TensorProto::INT64) {
        ok = proto.has_raw_data() ? readRaw(proto.raw_data(), count, tensor.ints)
                                  : static_cast<std::size_t>(proto.int64_data_size()) == count;
        if (ok && !proto.has_raw_data()) {
            tensor.ints.assign(proto.int64_data().begin(), proto.int64_data().end());
        }
    }
    if (!ok) {
        error = "tensor \"" + proto.name() + "\" holds less or more data than its shape";
    }
    return ok;
}

std::vector<std::int64_t> dimsOf(const onnx::ValueInfoProto& info) {
    std::vector<std::int64_t> dims;
    if (info.type().has_tensor_type() && info.type().tensor_type().has_shape()) {
        for (const auto& d : info.type().tensor_type().shape().dim()) {
            dims.push_back(d.has_dim_value() ? d.dim_value() : -1);
        }
    }
    return dims;
}

}  // namespace

std::optional<OnnxModel> readOnnxModel(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "model file cannot be read: " + path;
        return std::nullopt;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    onnx::ModelProto proto;
    if (bytes.empty() || !proto.ParseFromString(bytes) || !proto.has_graph()) {
        error = "model file is not an ONNX model: " + path;
        return std::nullopt;
    }
    const onnx::GraphProto& graph = proto.graph();
    OnnxModel model;
    for (const onnx::TensorProto& init : graph.initializer()) {
        OnnxTensor tensor;
        if (!convertTensor(init, tensor, error)) {
            return std::nullopt;
        }
        model.initializers[init.name()] = std::move(tensor);
    }
    for (const onnx::ValueInfoProto& info : graph.input()) {
        if (model.initializers.count(info.name()) == 0) {
            model.inputs.push_back({info.name(), dimsOf(info)});
        }
    }
    for (const onnx::ValueInfoProto& info : graph.output()) {
        model.outputs.push_back({info.name(), dimsOf(info)});
    }
    for (const onnx::NodeProto& n : graph.node()) {
        OnnxNode node;
        node.opType = n.op_type();
        node.domain = n.domain();
        node.name = n.name();
        node.inputs.assign(n.input().begin(), n.input().end());
        node.outputs.assign(n.output().begin(), n.output().end());
        for (const onnx::AttributeProto& a : n.attribute()) {
            OnnxAttribute attribute;
            attribute.name = a.name();
            switch (a.type()) {
                case onnx::AttributeProto::INT:
                    attribute.kind = "int";
                    attribute.i = a.i();
                    break;
                case onnx::AttributeProto::FLOAT:
                    attribute.kind = "float";
                    attribute.f = a.f();
                    break;
                case onnx::AttributeProto::INTS:
                    attribute.kind = "ints";
                    attribute.ints.assign(a.ints().begin(), a.ints().end());
                    break;
                case onnx::AttributeProto::STRING:
                    attribute.kind = "string";
                    attribute.s = a.s();
                    break;
                case onnx::AttributeProto::TENSOR: {
                    attribute.kind = "tensor";
                    OnnxTensor tensor;
                    if (!convertTensor(a.t(), tensor, error)) {
                        return std::nullopt;
                    }
                    attribute.tensor = std::move(tensor);
                    break;
                }
                default:
                    attribute.kind = "other";
                    break;
            }
            node.attributes.push_back(std::move(attribute));
        }
        model.nodes.push_back(std::move(node));
    }
    return model;
}

}  // namespace tovak::facedetect
