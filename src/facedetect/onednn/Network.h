#pragma once

#include <cstddef>
#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <string>
#include <vector>

#include "facedetect/onednn/Graph.h"

namespace tovak::facedetect::onednn {

// The zero-channel pad: per pixel, each piece's channels copied or zeroed, in order. Zero is all
// bits clear in every type the network uses.
struct Join {
    struct Piece {
        const std::byte* source = nullptr;  // none for zeros
        std::size_t bytes = 0;              // a pixel's channels
    };
    std::vector<Piece> pieces;
    std::byte* target = nullptr;
    std::size_t pixels = 0;

    void run() const;
};

struct Step {
    dnnl::primitive primitive;
    // The implementation oneDNN runs it with ("jit_dw:avx512_core"); empty for a join.
    std::string implementation;
    // Built once: the C++ execute() would build this list on every call.
    std::vector<dnnl_exec_arg_t> args;
    std::optional<Join> join;
};

// What a built network runs on: the engine and its stream, the activation buffers, the steps in
// order and one scratchpad they share.
struct Network {
    dnnl::engine engine{dnnl::engine::kind::cpu, 0};
    dnnl::stream stream{engine};
    std::vector<dnnl::memory> buffers;
    // The memory the steps' arguments point at, alive as long as they are.
    std::vector<dnnl::memory> keep;
    dnnl::memory scratchpad;
    std::vector<Step> steps;
    std::byte* input = nullptr;
    // Convolutions that carry a residual Add, and ops that carry a Relu, as built.
    int fusedAdds = 0;
    int fusedRelus = 0;

    [[nodiscard]] std::byte* bufferData(int buffer) const;
    bool execute(const Step& step);
    // Waits for what the stream runs; false when it failed.
    bool wait();
    // Gives every primitive step a scratchpad of at least bytes.
    void attachScratchpad(std::size_t bytes);
    // A larger scratchpad when bytes do not fit the one there is; the steps then use it.
    void growScratchpad(std::size_t bytes);
};

dnnl::memory::dims toDnnl(const Dims& dims);

}  // namespace tovak::facedetect::onednn
