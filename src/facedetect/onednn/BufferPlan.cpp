#include "facedetect/onednn/BufferPlan.h"

#include <algorithm>
#include <climits>

namespace tovak::facedetect::onednn {

BufferPlan::BufferPlan(const Graph& graph) {
    const std::map<int, Group> groups = groupsOf(graph);
    for (const auto& [group, g] : groups) {
        if (g.firstWrite < 0) {
            take(group, g.bytes);
        }
    }
    for (int i = 0; i < static_cast<int>(graph.ops.size()); ++i) {
        for (const auto& [group, g] : groups) {
            if (g.firstWrite == i) {
                take(group, g.bytes);
            }
        }
        for (const auto& [group, g] : groups) {
            if (g.lastUse == i) {
                free_.push_back(groupBuffer_[group]);
            }
        }
    }
    bufferOf_.assign(graph.values.size(), -1);
    for (std::size_t v = 0; v < graph.values.size(); ++v) {
        if (graph.values[v].kind == Value::Kind::activation) {
            bufferOf_[v] = groupBuffer_[graph.values[v].group];
        }
    }
}

std::map<int, BufferPlan::Group> BufferPlan::groupsOf(const Graph& graph) {
    std::map<int, Group> groups;
    for (const Value& v : graph.values) {
        if (v.kind != Value::Kind::activation) {
            continue;
        }
        const int write = v.producer < 0 ? -1 : v.producer;
        Group& g = groups.try_emplace(v.group, Group{0, write, -1}).first->second;
        g.bytes = std::max(g.bytes, elements(v.dims) * sizeof(float));
        for (const int c : v.consumers) {
            g.lastUse = std::max(g.lastUse, c);
        }
        if (v.graphOutput || v.producer < 0) {
            g.lastUse = INT_MAX;
        }
        g.firstWrite = std::min(g.firstWrite, write);
    }
    return groups;
}

void BufferPlan::take(int group, std::size_t bytes) {
    auto best = free_.end();
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (best == free_.end()) {
            best = it;
            continue;
        }
        const std::size_t have = sizes_[static_cast<std::size_t>(*it)];
        const std::size_t bestHave = sizes_[static_cast<std::size_t>(*best)];
        const bool fits = have >= bytes;
        const bool bestFits = bestHave >= bytes;
        if ((fits && (!bestFits || have < bestHave)) || (!fits && !bestFits && have > bestHave)) {
            best = it;
        }
    }
    int buffer = 0;
    if (best != free_.end()) {
        buffer = *best;
        free_.erase(best);
    } else {
        buffer = static_cast<int>(sizes_.size());
        sizes_.push_back(0);
    }
    sizes_[static_cast<std::size_t>(buffer)] = std::max(sizes_[static_cast<std::size_t>(buffer)], bytes);
    groupBuffer_[group] = buffer;
}

}  // namespace tovak::facedetect::onednn
