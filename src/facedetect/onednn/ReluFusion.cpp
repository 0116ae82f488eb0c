#include "facedetect/onednn/ReluFusion.h"

namespace tovak::facedetect::onednn {

std::optional<int> matchRelu(const Graph& graph, int relu) {
    const Op& op = graph.op(relu);
    if (op.kind != OpKind::relu) {
        return std::nullopt;
    }
    const Value& x = graph.value(op.inputs[0]);
    if (x.producer < 0 || x.graphOutput || x.consumers.size() != 1) {
        return std::nullopt;
    }
    const Op& producer = graph.op(x.producer);
    if ((producer.kind != OpKind::conv && producer.kind != OpKind::add) || producer.removed || producer.relu) {
        return std::nullopt;
    }
    return x.producer;
}

void applyRelu(Graph& graph, int relu, int producer) {
    Op& op = graph.op(relu);
    Op& writer = graph.op(producer);
    writer.relu = true;
    writer.output = op.output;
    op.removed = true;
    const Value& x = graph.value(op.inputs[0]);
    Value& y = graph.value(op.output);
    graph.mergeGroups(y.group, x.group);
    y.producer = x.producer;
}

void fuseRelus(Graph& graph) {
    for (int i = 0; i < static_cast<int>(graph.ops.size()); ++i) {
        if (const std::optional<int> producer = matchRelu(graph, i)) {
            applyRelu(graph, i, *producer);
        }
    }
}

}  // namespace tovak::facedetect::onednn
