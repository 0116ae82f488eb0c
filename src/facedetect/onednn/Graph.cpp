#include "facedetect/onednn/Graph.h"

#include <numeric>

namespace tovak::facedetect::onednn {

void Graph::mergeGroups(int from, int to) {
    for (Value& v : values) {
        if (v.group == from) {
            v.group = to;
        }
    }
}

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

}  // namespace tovak::facedetect::onednn
