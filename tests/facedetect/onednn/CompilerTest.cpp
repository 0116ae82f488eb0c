#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/GraphImport.h"
#include "facedetect/onednn/ReluFusion.h"
#include "facedetect/onednn/ResidualAddFusion.h"

namespace tovak::facedetect::onednn {
namespace {

// One node of a hand-built model. A Conv is 1x1 and makes `channels` channels; a MaxPool is 1x1; a
// Transpose makes an image row-major; a Concat joins channels.
struct Node {
    const char* op;
    std::string output;
    std::vector<std::string> inputs;
    int channels = 3;
};

OnnxAttribute attribute(const char* name, Dims ints, std::int64_t i = 0) {
    OnnxAttribute a;
    a.name = name;
    a.kind = ints.empty() ? "int" : "ints";
    a.ints = std::move(ints);
    a.i = i;
    return a;
}

// A model on a 4x4 RGB input "x", read as the image "in", then the nodes; outputs name row-major tensors.
OnnxModel modelOf(const std::vector<Node>& nodes, const std::vector<std::string>& outputs) {
    OnnxModel m;
    m.inputs.push_back({"x", {1, 4, 4, 3}});
    m.nodes.push_back({"Transpose", "", "", {"x"}, {"in"}, {attribute("perm", {0, 3, 1, 2})}});
    std::map<std::string, std::int64_t> channels{{"in", 3}};
    for (const Node& n : nodes) {
        OnnxNode node{n.op, "", n.output, n.inputs, {n.output}, {}};
        const std::string op = n.op;
        std::int64_t made = channels[n.inputs[0]];
        if (op == "Conv") {
            const std::string w = n.output + ".w";
            m.initializers[w] = {{n.channels, made, 1, 1}, 1, std::vector<float>(n.channels * made, 0.5F), {}};
            node.inputs.push_back(w);
            made = n.channels;
        } else if (op == "MaxPool") {
            node.attributes.push_back(attribute("kernel_shape", {1, 1}));
        } else if (op == "Transpose") {
            node.attributes.push_back(attribute("perm", {0, 2, 3, 1}));
        } else if (op == "Concat") {
            node.attributes.push_back(attribute("axis", {}, 1));
            made = channels[n.inputs[0]] + channels[n.inputs[1]];
        }
        channels[n.output] = made;
        m.nodes.push_back(std::move(node));
    }
    for (const std::string& name : outputs) {
        m.outputs.push_back({name, {}});
    }
    return m;
}

// The model imported and both fusions run, in the order the backend runs them.
struct Compiled {
    OnnxModel model;
    Graph graph;

    Compiled(const std::vector<Node>& nodes, const std::vector<std::string>& outputs) : model(modelOf(nodes, outputs)) {
        std::string error;
        std::optional<Graph> imported = importGraph(model, 4, error);
        EXPECT_TRUE(imported) << error;
        graph = imported.value_or(Graph{});
        fuseResidualAdds(graph);
        fuseRelus(graph);
    }

    [[nodiscard]] std::string nameOf(int value) const {
        for (const auto& [name, v] : graph.byName) {
            if (v == value) {
                return name;
            }
        }
        return "?";
    }

    // The ops left, each as "output=Op(inputs)", then "+residual" and "+Relu" for what runs inside it.
    [[nodiscard]] std::string ops() const {
        static const char* const kinds[] = {"Conv", "Relu", "Add", "MaxPool", "Concat"};
        std::string text;
        for (const Op& op : graph.ops) {
            if (op.removed) {
                continue;
            }
            text += (text.empty() ? "" : " ") + nameOf(op.output) + "=" + kinds[static_cast<int>(op.kind)] + "(";
            for (std::size_t i = 0; i < op.inputs.size(); ++i) {
                text += (i ? "," : "") + nameOf(op.inputs[i]);
            }
            text += std::string(")") + (op.sum ? "+" + nameOf(op.residual) : "") + (op.relu ? "+Relu" : "");
        }
        return text;
    }

    // Each buffer as "[the values it holds]bytes".
    [[nodiscard]] std::string buffers() const {
        const BufferPlan plan(graph);
        std::vector<std::string> held(plan.sizes().size());
        for (int v = 0; v < static_cast<int>(graph.values.size()); ++v) {
            if (const int b = plan.bufferOf(v); b >= 0) {
                held[static_cast<std::size_t>(b)] += (held[static_cast<std::size_t>(b)].empty() ? "" : " ") + nameOf(v);
            }
        }
        std::string text;
        for (std::size_t b = 0; b < held.size(); ++b) {
            text += (b ? " [" : "[") + held[b] + "]" + std::to_string(plan.sizes()[b]);
        }
        return text;
    }
};

// A residual block as BlazeFace has them: the residual a feeds b, c adds to a, then a Relu.
const std::vector<Node> kBlock = {
    {"Conv", "a", {"in"}}, {"Conv", "b", {"a"}}, {"Conv", "c", {"b"}}, {"Add", "s", {"a", "c"}}, {"Relu", "y", {"s"}}};

std::vector<Node> blockWith(std::vector<Node> more) {
    std::vector<Node> nodes = kBlock;
    nodes.insert(nodes.end(), more.begin(), more.end());
    return nodes;
}

TEST(OneDnnFusionTest, AResidualAddAndAReluRunInTheOpThatFeedsThemOnlyWhereNothingElseReadsWhatTheyWriteOver) {
    const struct Row {
        const char* name;
        std::vector<Node> nodes;
        std::vector<std::string> outputs;
        const char* ops;
    } rows[] = {
        {"a residual block is one convolution", kBlock, {}, "a=Conv(in) b=Conv(a) y=Conv(b)+a+Relu"},
        {"the convolution may be either input of the Add",
         {{"Conv", "a", {"in"}}, {"Conv", "b", {"a"}}, {"Conv", "c", {"b"}}, {"Add", "s", {"c", "a"}}},
         {},
         "a=Conv(in) b=Conv(a) s=Conv(b)+a"},
        {"the convolution reads the residual itself",
         {{"Conv", "a", {"in"}}, {"Conv", "c", {"a"}}, {"Add", "s", {"a", "c"}}, {"Relu", "y", {"s"}}},
         {},
         "a=Conv(in) c=Conv(a) y=Add(a,c)+Relu"},
        {"the residual is read after the Add",
         blockWith({{"Relu", "z", {"a"}}}),
         {},
         "a=Conv(in) b=Conv(a) c=Conv(b) y=Add(a,c)+Relu z=Relu(a)"},
        {"the residual's buffer holds a graph output",
         {{"Conv", "a", {"in"}},
          {"Transpose", "t", {"a"}},
          {"Conv", "b", {"a"}},
          {"Conv", "c", {"b"}},
          {"Add", "s", {"a", "c"}},
          {"Relu", "y", {"s"}}},
         {"t"},
         "a=Conv(in) b=Conv(a) c=Conv(b) y=Add(a,c)+Relu"},
        {"the convolution's output is read elsewhere too",
         blockWith({{"Relu", "z", {"c"}}}),
         {},
         "a=Conv(in) b=Conv(a) c=Conv(b) y=Add(a,c)+Relu z=Relu(c)"},
        {"the network's input is never written over",
         {{"Conv", "b", {"in"}}, {"Conv", "c", {"b"}}, {"Add", "s", {"in", "c"}}},
         {},
         "b=Conv(in) c=Conv(b) s=Add(in,c)"},
        {"the residual is written after the convolution",
         {{"Conv", "c", {"in"}}, {"MaxPool", "m", {"in"}}, {"Add", "s", {"c", "m"}}},
         {},
         "c=Conv(in) m=MaxPool(in) s=Add(c,m)"},
        {"a convolution carries one sum",
         {{"Conv", "e", {"in"}},
          {"Conv", "a", {"in"}},
          {"Conv", "b", {"a"}},
          {"Conv", "c", {"b"}},
          {"Add", "s", {"a", "c"}},
          {"Add", "t", {"e", "s"}}},
         {},
         "e=Conv(in) a=Conv(in) b=Conv(a) s=Conv(b)+a t=Add(e,s)"},
        {"row-major tensors are added by an Add",
         {{"Conv", "a", {"in"}},
          {"Conv", "b", {"a"}},
          {"Conv", "c", {"b"}},
          {"Transpose", "ta", {"a"}},
          {"Transpose", "tc", {"c"}},
          {"Add", "s", {"ta", "tc"}}},
         {},
         "a=Conv(in) b=Conv(a) c=Conv(b) s=Add(ta,tc)"},
        {"a Relu on the input", {{"Relu", "y", {"in"}}}, {}, "y=Relu(in)"},
        {"a Relu after a MaxPool", {{"MaxPool", "m", {"in"}}, {"Relu", "y", {"m"}}}, {}, "m=MaxPool(in) y=Relu(m)"},
        {"a Relu whose input is read elsewhere too",
         {{"Conv", "c", {"in"}}, {"Relu", "y", {"c"}}, {"MaxPool", "z", {"c"}}},
         {},
         "c=Conv(in) y=Relu(c) z=MaxPool(c)"},
        {"a second Relu",
         {{"Conv", "c", {"in"}}, {"Relu", "y", {"c"}}, {"Relu", "z", {"y"}}},
         {},
         "y=Conv(in)+Relu z=Relu(y)"},
        {"a Relu over a graph output",
         {{"Conv", "c", {"in"}}, {"Transpose", "t", {"c"}}, {"Relu", "y", {"t"}}},
         {"t", "y"},
         "c=Conv(in) y=Relu(t)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Compiled(row.nodes, row.outputs).ops(), row.ops);
    }
}

TEST(OneDnnBufferPlanTest, ValuesShareBuffersWhereTheyAliasOrTakeTurnsAndEachBufferFitsItsLargest) {
    // 4x4 pixels: 192 bytes for 3 channels, 512 for 8, 640 for 10, 704 for 11.
    const struct Row {
        const char* name;
        std::vector<Node> nodes;
        std::vector<std::string> outputs;
        const char* buffers;
    } rows[] = {
        {"a chain takes turns in two buffers; the input keeps its own",
         {{"Conv", "c1", {"in"}}, {"Conv", "c2", {"c1"}}, {"Conv", "c3", {"c2"}}, {"Conv", "c4", {"c3"}}},
         {},
         "[x in]192 [c1 c3]192 [c2 c4]192"},
        {"a graph output and its alias keep theirs",
         {{"Conv", "c1", {"in"}}, {"Transpose", "t", {"c1"}}, {"Conv", "c2", {"c1"}}, {"Conv", "c3", {"c2"}}},
         {"t"},
         "[x in]192 [c1 t]192 [c2]192 [c3]192"},
        {"a sum and its Relu are written over the residual", kBlock, {}, "[x in]192 [a c s y]192 [b]192"},
        {"the smallest free buffer that holds it",
         {{"Conv", "a", {"in"}, 8},
          {"Conv", "b", {"in"}},
          {"Concat", "j", {"a", "b"}},
          {"Conv", "d", {"j"}, 1},
          {"Conv", "e", {"j"}, 10}},
         {},
         "[x in]192 [a e]640 [b d]192 [j]704"},
        {"else the largest, grown",
         {{"Conv", "b", {"in"}}, {"Conv", "a", {"in"}, 8}, {"Concat", "j", {"b", "a"}}, {"Conv", "e", {"j"}, 10}},
         {},
         "[x in]192 [b]192 [a e]640 [j]704"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Compiled(row.nodes, row.outputs).buffers(), row.buffers);
    }
}

}  // namespace
}  // namespace tovak::facedetect::onednn
