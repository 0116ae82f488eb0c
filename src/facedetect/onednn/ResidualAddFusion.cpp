#include "facedetect/onednn/ResidualAddFusion.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace tovak::facedetect::onednn {

namespace {

// The last op that reads a value of the group, other than exceptOp; past every op for a group
// holding a graph output; -1 for none.
int groupLastUseExcept(const Graph& graph, int group, int exceptOp) {
    int last = -1;
    for (const Value& v : graph.values) {
        if (v.group != group) {
            continue;
        }
        if (v.graphOutput) {
            return INT_MAX;
        }
        for (const int c : v.consumers) {
            if (c != exceptOp) {
                last = std::max(last, c);
            }
        }
    }
    return last;
}

bool fits(const Graph& graph, int add, int c, int r) {
    const Value& cv = graph.value(c);
    const Value& rv = graph.value(r);
    if (cv.producer < 0 || cv.graphOutput || cv.consumers.size() != 1 || rv.graphOutput) {
        return false;
    }
    const Op& conv = graph.op(cv.producer);
    return conv.kind == OpKind::conv && !conv.removed && !conv.sum && !conv.relu && cv.layout == Layout::image &&
           rv.group != graph.value(graph.inputValue).group && rv.producer < cv.producer &&
           groupLastUseExcept(graph, rv.group, add) < cv.producer;
}

}  // namespace

std::optional<ResidualAdd> matchResidualAdd(const Graph& graph, int add) {
    const Op& op = graph.op(add);
    if (op.kind != OpKind::add) {
        return std::nullopt;
    }
    for (const std::size_t k : {std::size_t{1}, std::size_t{0}}) {
        const int c = op.inputs[k];
        const int r = op.inputs[1 - k];
        if (fits(graph, add, c, r)) {
            return ResidualAdd{add, graph.value(c).producer, c, r};
        }
    }
    return std::nullopt;
}

void applyResidualAdd(Graph& graph, const ResidualAdd& match) {
    Op& add = graph.op(match.add);
    Op& conv = graph.op(match.conv);
    conv.sum = true;
    conv.residual = match.residual;
    conv.output = add.output;
    add.removed = true;
    const int target = graph.value(match.residual).group;
    graph.mergeGroups(graph.value(match.convOutput).group, target);
    Value& sum = graph.value(add.output);
    sum.group = target;
    sum.producer = match.conv;
}

void fuseResidualAdds(Graph& graph) {
    for (int i = 0; i < static_cast<int>(graph.ops.size()); ++i) {
        if (const std::optional<ResidualAdd> match = matchResidualAdd(graph, i)) {
            applyResidualAdd(graph, *match);
        }
    }
}

}  // namespace tovak::facedetect::onednn
