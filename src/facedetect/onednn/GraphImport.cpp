#include "facedetect/onednn/GraphImport.h"

#include <utility>

#include "facedetect/onednn/ImportContext.h"
#include "facedetect/onednn/OpTranslators.h"

namespace tovak::facedetect::onednn {

namespace {

void importInput(const OnnxModel& model, int inputSize, ImportContext& context) {
    if (model.inputs.size() != 1) {
        throw ImportRefusal{"the model has " + std::to_string(model.inputs.size()) + " inputs, not one"};
    }
    const Dims expected{1, inputSize, inputSize, 3};
    Dims declared = model.inputs[0].dims;
    if (!declared.empty() && declared[0] < 1) {
        declared[0] = 1;
    }
    if (declared != expected) {
        throw ImportRefusal{"the model's input " + dimsText(declared) + " is not " + dimsText(expected)};
    }
    Value input;
    input.dims = expected;
    input.group = 0;
    context.define(model.inputs[0].name, std::move(input));
    context.graph().inputValue = 0;
}

void importNode(const OnnxNode& n, ImportContext& context) {
    if (!n.domain.empty() && n.domain != "ai.onnx") {
        ImportContext::refuse(n, "domain \"" + n.domain + "\" is not supported");
    }
    if (n.outputs.size() != 1) {
        ImportContext::refuse(n, "only one output is supported");
    }
    const TranslateNode translate = translatorFor(n.opType);
    if (translate == nullptr) {
        ImportContext::refuse(n, "not a supported operator");
    }
    translate(context, n);
}

void markOutputs(const OnnxModel& model, Graph& graph) {
    for (const OnnxValueInfo& info : model.outputs) {
        const auto it = graph.byName.find(info.name);
        if (it == graph.byName.end() || graph.value(it->second).kind != Value::Kind::activation ||
            graph.value(it->second).layout != Layout::plain) {
            throw ImportRefusal{"output \"" + info.name + "\" is not a computed row-major tensor"};
        }
        graph.value(it->second).graphOutput = true;
        graph.outputValues.push_back(it->second);
    }
}

}  // namespace

std::optional<Graph> importGraph(const OnnxModel& model, int inputSize, std::string& error) {
    Graph graph;
    ImportContext context(model, graph);
    try {
        importInput(model, inputSize, context);
        for (const auto& [name, tensor] : model.initializers) {
            Value v;
            v.kind = Value::Kind::constant;
            v.constant = &tensor;
            v.dims = tensor.dims;
            context.define(name, std::move(v));
        }
        for (const OnnxNode& n : model.nodes) {
            importNode(n, context);
        }
        markOutputs(model, graph);
    } catch (const ImportRefusal& refusal) {
        error = refusal.message;
        return std::nullopt;
    }
    return graph;
}

}  // namespace tovak::facedetect::onednn
