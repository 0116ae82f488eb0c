#include "facedetect/onednn/Network.h"

#include <algorithm>
#include <cstring>

namespace tovak::facedetect::onednn {

void Join::run() const {
    std::byte* out = target;
    for (std::size_t p = 0; p < pixels; ++p) {
        for (const Piece& piece : pieces) {
            if (piece.source != nullptr) {
                std::memcpy(out, piece.source + p * piece.bytes, piece.bytes);
            } else {
                std::memset(out, 0, piece.bytes);
            }
            out += piece.bytes;
        }
    }
}

std::byte* Network::bufferData(int buffer) const {
    return static_cast<std::byte*>(buffers[static_cast<std::size_t>(buffer)].get_data_handle());
}

bool Network::execute(const Step& step) {
    return dnnl_primitive_execute(step.primitive.get(), stream.get(), static_cast<int>(step.args.size()),
                                  step.args.data()) == dnnl_success;
}

bool Network::wait() {
    return dnnl_stream_wait(stream.get()) == dnnl_success;
}

void Network::attachScratchpad(std::size_t bytes) {
    scratchpad = dnnl::memory(dnnl::memory::desc({static_cast<dnnl::memory::dim>(std::max<std::size_t>(bytes, 1))},
                                                 dnnl::memory::data_type::u8, dnnl::memory::format_tag::a),
                              engine);
    for (Step& step : steps) {
        if (!step.join) {
            step.args.push_back({DNNL_ARG_SCRATCHPAD, scratchpad.get()});
        }
    }
}

void Network::growScratchpad(std::size_t bytes) {
    if (bytes <= scratchpad.get_desc().get_size()) {
        return;
    }
    scratchpad = dnnl::memory(dnnl::memory::desc({static_cast<dnnl::memory::dim>(bytes)}, dnnl::memory::data_type::u8,
                                                 dnnl::memory::format_tag::a),
                              engine);
    for (Step& step : steps) {
        for (dnnl_exec_arg_t& arg : step.args) {
            if (arg.arg == DNNL_ARG_SCRATCHPAD) {
                arg.memory = scratchpad.get();
            }
        }
    }
}

dnnl::memory::dims toDnnl(const Dims& dims) {
    return dnnl::memory::dims(dims.begin(), dims.end());
}

}  // namespace tovak::facedetect::onednn
