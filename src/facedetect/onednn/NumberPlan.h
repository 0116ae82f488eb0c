#pragma once

#include <cstddef>
#include <oneapi/dnnl/dnnl.hpp>
#include <vector>

#include "facedetect/onednn/Graph.h"
#include "facedetect/onednn/Precision.h"

namespace tovak::facedetect::onednn {

// The type of every activation for a precision: in bf16, all but what reaches a graph output,
// which stays f32 (the heads write it so).
class NumberPlan {
  public:
    NumberPlan(const Graph& graph, Precision precision);

    [[nodiscard]] Precision precision() const { return precision_; }
    [[nodiscard]] dnnl::memory::data_type typeOf(int value) const { return types_[static_cast<std::size_t>(value)]; }
    [[nodiscard]] std::size_t bytesOf(int value) const;
    // The type convolution weights take.
    [[nodiscard]] dnnl::memory::data_type weightType() const;

  private:
    Precision precision_;
    std::vector<dnnl::memory::data_type> types_;
};

}  // namespace tovak::facedetect::onednn
