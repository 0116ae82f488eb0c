#include "facedetect/OneDnnBackend.h"

#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "facedetect/OnnxModel.h"
#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/GraphImport.h"
#include "facedetect/onednn/Network.h"
#include "facedetect/onednn/OneThread.h"
#include "facedetect/onednn/PictureRowsOnlyStage.h"
#include "facedetect/onednn/PrimitiveBuilder.h"
#include "facedetect/onednn/ReluFusion.h"
#include "facedetect/onednn/ResidualAddFusion.h"

namespace tovak::facedetect {

std::unique_ptr<OneDnnBackend> OneDnnBackend::load(const std::string& path, int inputSize, std::string& error) {
    const std::optional<OnnxModel> model = readOnnxModel(path, error);
    if (!model) {
        return nullptr;
    }
    std::optional<onednn::Graph> graph = onednn::importGraph(*model, inputSize, error);
    if (!graph) {
        return nullptr;
    }
    onednn::fuseResidualAdds(*graph);
    onednn::fuseRelus(*graph);
    // Some primitives fix their thread split when they are made: make them for one thread too.
    const onednn::OneThread oneThread;
    auto network = std::make_unique<onednn::Network>();
    try {
        const onednn::BufferPlan plan(*graph);
        onednn::PrimitiveBuilder builder(*graph, plan, *network);
        const std::vector<onednn::BuiltStep> built = builder.build();
        auto firstStage = std::make_unique<onednn::PictureRowsOnlyStage>(*graph, plan, *network, built, inputSize);
        network->attachScratchpad(builder.scratchpadBytes());
        std::vector<std::pair<const float*, std::size_t>> found;
        for (const int v : graph->outputValues) {
            found.emplace_back(network->bufferData(plan.bufferOf(v)), onednn::elements(graph->value(v).dims));
        }
        NetworkOutputs outputs;
        if (!assignOutputs(found, outputs, error)) {
            return nullptr;
        }
        return std::unique_ptr<OneDnnBackend>(new OneDnnBackend(std::move(network), std::move(firstStage), outputs));
    } catch (const dnnl::error& e) {
        error = std::string("oneDNN cannot build the network: ") + e.what();
        return nullptr;
    }
}

OneDnnBackend::OneDnnBackend(std::unique_ptr<onednn::Network> network,
                             std::unique_ptr<onednn::PictureRowsOnlyStage> firstStage, NetworkOutputs outputs)
    : network_(std::move(network)), firstStage_(std::move(firstStage)), outputs_(outputs) {}

OneDnnBackend::~OneDnnBackend() = default;

float* OneDnnBackend::input() {
    return network_->input;
}

int OneDnnBackend::fusedAdds() const {
    return network_->fusedAdds;
}

int OneDnnBackend::fusedRelus() const {
    return network_->fusedRelus;
}

void OneDnnBackend::setPictureRows(int top, int bottom) {
    firstStage_->setPictureRows(top, bottom);
}

bool OneDnnBackend::run() {
    // One thread: on a shared desktop machine a second one mostly waits for the other process.
    const onednn::OneThread oneThread;
    onednn::Network& net = *network_;
    firstStage_->prepare(net);
    for (std::size_t i = 0; i < net.steps.size(); ++i) {
        const onednn::Step& step = net.steps[i];
        if (i < firstStage_->size()) {
            if (!firstStage_->run(i, net)) {
                return false;
            }
        } else if (step.join) {
            step.join->run();
        } else if (!net.execute(step)) {
            return false;
        }
    }
    return net.wait();
}

}  // namespace tovak::facedetect
