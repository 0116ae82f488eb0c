#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tovak::facedetect {

// The parts of an ONNX file a network is built from, in plain C++ so that protobuf stays in one
// source file.
struct OnnxTensor {
    std::vector<std::int64_t> dims;
    // ONNX element type: 1 float, 7 int64; others are kept as their type alone.
    int dataType = 0;
    std::vector<float> floats;
    std::vector<std::int64_t> ints;
};

struct OnnxAttribute {
    std::string name;
    // "int", "float", "ints", "string", "tensor" or "other".
    std::string kind;
    std::int64_t i = 0;
    float f = 0;
    std::vector<std::int64_t> ints;
    std::string s;
    std::optional<OnnxTensor> tensor;
};

struct OnnxNode {
    std::string opType;
    std::string domain;
    std::string name;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<OnnxAttribute> attributes;
};

struct OnnxValueInfo {
    std::string name;
    std::vector<std::int64_t> dims;
};

struct OnnxModel {
    std::vector<OnnxNode> nodes;
    std::map<std::string, OnnxTensor> initializers;
    // Graph inputs that are not initializers.
    std::vector<OnnxValueInfo> inputs;
    std::vector<OnnxValueInfo> outputs;
};

// None, with the reason in error, when the file cannot be read or is not an ONNX model.
std::optional<OnnxModel> readOnnxModel(const std::string& path, std::string& error);

}  // namespace tovak::facedetect
