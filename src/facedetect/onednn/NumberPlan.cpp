#include "facedetect/onednn/NumberPlan.h"

#include <set>

namespace tovak::facedetect::onednn {

using dt = dnnl::memory::data_type;

NumberPlan::NumberPlan(const Graph& graph, Precision precision)
    : precision_(precision), types_(graph.values.size(), dt::f32) {
    if (precision == Precision::f32) {
        return;
    }
    std::set<int> kept;
    for (const Value& v : graph.values) {
        if (v.graphOutput) {
            kept.insert(v.group);
        }
    }
    for (std::size_t v = 0; v < graph.values.size(); ++v) {
        if (graph.values[v].kind == Value::Kind::activation && kept.count(graph.values[v].group) == 0) {
            types_[v] = dt::bf16;
        }
    }
}

std::size_t NumberPlan::bytesOf(int value) const {
    return typeOf(value) == dt::f32 ? 4 : 2;
}

dt NumberPlan::weightType() const {
    return precision_ == Precision::f32 ? dt::f32 : dt::bf16;
}

}  // namespace tovak::facedetect::onednn
