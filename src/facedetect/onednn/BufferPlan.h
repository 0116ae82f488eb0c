#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "facedetect/onednn/Graph.h"

namespace tovak::facedetect::onednn {

// Which buffer each activation lives in, and how many bytes each buffer holds. The values of one
// group (aliases, the outputs a fused op writes over) share a buffer. A group takes one when its
// first writer runs: the smallest free buffer that holds it, else the largest free one, grown,
// else a new one; it gives it back once its last reader has run. The input's and the graph
// outputs' buffers are never given back.
class BufferPlan {
  public:
    explicit BufferPlan(const Graph& graph);

    // The buffer of an activation; -1 for constants and zeros.
    [[nodiscard]] int bufferOf(int value) const { return bufferOf_[static_cast<std::size_t>(value)]; }
    [[nodiscard]] const std::vector<std::size_t>& sizes() const { return sizes_; }

  private:
    struct Group {
        std::size_t bytes = 0;
        int firstWrite = -1;  // -1 for the input
        int lastUse = -1;
    };
    static std::map<int, Group> groupsOf(const Graph& graph);
    void take(int group, std::size_t bytes);

    std::vector<std::size_t> sizes_;
    std::vector<int> free_;
    std::map<int, int> groupBuffer_;
    std::vector<int> bufferOf_;
};

}  // namespace tovak::facedetect::onednn
