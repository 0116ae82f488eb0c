#include "facedetect/OneDnnBackend.h"

#include <chrono>
#include <filesystem>
#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "facedetect/OnnxModel.h"
#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/GraphImport.h"
#include "facedetect/onednn/ImplementationCache.h"
#include "facedetect/onednn/ImplementationChoice.h"
#include "facedetect/onednn/Network.h"
#include "facedetect/onednn/NumberPlan.h"
#include "facedetect/onednn/OneThread.h"
#include "facedetect/onednn/PictureRowsOnlyStage.h"
#include "facedetect/onednn/PrimitiveBuilder.h"
#include "facedetect/onednn/ReluFusion.h"
#include "facedetect/onednn/ResidualAddFusion.h"

namespace tovak::facedetect {

namespace {

using onednn::Precision;

// Why this CPU cannot run the precision fast, as oneDNN sees it (which also heeds
// ONEDNN_MAX_CPU_ISA); empty when it can.
std::string missingInstructions(Precision precision) {
    const auto isa = static_cast<unsigned>(dnnl::get_effective_cpu_isa());
    const auto has = [isa](dnnl_cpu_isa_t wanted) { return (isa & wanted) == static_cast<unsigned>(wanted); };
    if (precision == Precision::bf16 && !has(dnnl_cpu_isa_avx512_core_bf16)) {
        return "the CPU has no AVX-512 bf16 instructions";
    }
    return "";
}

std::string describeStep(const onednn::Graph& graph, const onednn::BuiltStep& step) {
    static const char* const kinds[] = {"conv", "relu", "add", "maxpool", "pad"};
    const onednn::Op& op = *step.op;
    const onednn::Dims& in = graph.value(op.inputs[0]).dims;
    const onednn::Dims& out = graph.value(op.output).dims;
    std::string text = kinds[static_cast<int>(op.kind)];
    if (!op.kernel.empty()) {
        text += " " + std::to_string(op.kernel[0]) + "x" + std::to_string(op.kernel[1]) + "/" +
                std::to_string(op.strides[0]) + (op.groups > 1 ? " dw" : "");
    }
    if (in.size() == 4 && out.size() == 4) {
        text += " " + std::to_string(in[1]) + ">" + std::to_string(out[1]) + " " + std::to_string(out[2]) + "x" +
                std::to_string(out[3]);
    }
    return text + (step.implementation.empty() ? "" : " " + step.implementation);
}

}  // namespace

std::unique_ptr<OneDnnBackend> OneDnnBackend::load(const std::string& path, int inputSize, const Settings& settings,
                                                   std::string& error) {
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
    Precision precision = settings.precision;
    std::string note = missingInstructions(precision);
    if (!note.empty()) {
        precision = Precision::f32;
    }
    std::unique_ptr<OneDnnBackend> backend = build(*graph, precision, settings, path, inputSize, error);
    if (!backend && precision != Precision::f32) {
        note = "oneDNN refused it: " + error;
        backend = build(*graph, Precision::f32, settings, path, inputSize, error);
    }
    if (backend && !note.empty()) {
        backend->precisionNote_ = std::string(onednn::precisionName(settings.precision)) + ": " + note;
    }
    return backend;
}

std::unique_ptr<OneDnnBackend> OneDnnBackend::build(const onednn::Graph& graph, Precision precision,
                                                    const Settings& settings, const std::string& path, int inputSize,
                                                    std::string& error) {
    namespace cache = onednn::implementation_cache;
    const bool cached = settings.timed && settings.cached;
    const std::string precisionName = onednn::precisionName(precision);
    const std::filesystem::path file = cached ? cache::fileFor(path, precisionName) : std::filesystem::path();
    const std::string key = cached ? cache::keyFor(path, inputSize, precisionName) : "";
    // Some primitives fix their thread split when they are made: make (and time) them for one thread too.
    const onednn::OneThread oneThread;
    std::unique_ptr<OneDnnBackend> backend(new OneDnnBackend());
    backend->network_ = std::make_unique<onednn::Network>();
    backend->precision_ = precision;
    try {
        onednn::ImplementationChoice choice(file.empty() ? std::vector<std::string>() : cache::read(file, key),
                                            settings.timed);
        const onednn::NumberPlan numbers(graph, precision);
        const onednn::BufferPlan plan(graph);
        onednn::PrimitiveBuilder builder(graph, plan, numbers, choice, *backend->network_);
        const std::vector<onednn::BuiltStep> built = builder.build();
        backend->inputFormat_ = precision == Precision::bf16 ? InputFormat::bf16 : InputFormat::f32;
        const std::size_t bytes = bytesOf(backend->inputFormat_);
        std::vector<std::byte> black(3 * bytes);
        for (std::size_t c = 0; c < 3; ++c) {
            writeInput(backend->inputFormat_, -1.0F, black.data() + c * bytes);
        }
        backend->firstStage_ = std::make_unique<onednn::PictureRowsOnlyStage>(graph, plan, numbers, *backend->network_,
                                                                              built, inputSize, std::move(black));
        backend->network_->attachScratchpad(builder.scratchpadBytes());
        std::vector<std::pair<const float*, std::size_t>> found;
        for (const int v : graph.outputValues) {
            found.emplace_back(reinterpret_cast<const float*>(backend->network_->bufferData(plan.bufferOf(v))),
                               onednn::elements(graph.value(v).dims));
        }
        if (!assignOutputs(found, backend->outputs_, error)) {
            return nullptr;
        }
        for (const onednn::BuiltStep& step : built) {
            backend->stepNames_.push_back(describeStep(graph, step));
        }
        backend->timedPrimitives_ = choice.timed();
        if (choice.timed() > 0 && !file.empty()) {
            cache::write(file, key, choice.chosen());
        }
        return backend;
    } catch (const dnnl::error& e) {
        error = std::string("oneDNN cannot build the network: ") + e.what();
        return nullptr;
    }
}

OneDnnBackend::~OneDnnBackend() = default;

void* OneDnnBackend::input() {
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

bool OneDnnBackend::runStep(std::size_t i) {
    onednn::Network& net = *network_;
    const onednn::Step& step = net.steps[i];
    if (i < firstStage_->size()) {
        return firstStage_->run(i, net);
    }
    if (step.join) {
        step.join->run();
        return true;
    }
    return net.execute(step);
}

bool OneDnnBackend::run() {
    // One thread: on a shared desktop machine a second one mostly waits for the other process.
    const onednn::OneThread oneThread;
    firstStage_->prepare(*network_);
    for (std::size_t i = 0; i < network_->steps.size(); ++i) {
        if (!runStep(i)) {
            return false;
        }
    }
    return network_->wait();
}

std::vector<std::string> OneDnnBackend::stepNames() const {
    return stepNames_;
}

bool OneDnnBackend::runTimed(std::vector<double>& microseconds) {
    const onednn::OneThread oneThread;
    firstStage_->prepare(*network_);
    microseconds.assign(network_->steps.size(), 0.0);
    for (std::size_t i = 0; i < network_->steps.size(); ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!runStep(i) || !network_->wait()) {
            return false;
        }
        microseconds[i] = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    }
    return true;
}

}  // namespace tovak::facedetect
