#pragma once

#include <memory>
#include <string>
#include <vector>

#include "facedetect/InferenceBackend.h"
#include "facedetect/onednn/Precision.h"

namespace tovak::facedetect {

namespace onednn {
struct Graph;
struct Network;
class PictureRowsOnlyStage;
}  // namespace onednn

// The network built from the ONNX graph itself on oneDNN, for the operators BlazeFace uses: Conv
// (grouped and depthwise too), Relu, Add, MaxPool, the zero-channel pad (ConstantOfShape and
// Concat), Transpose and Reshape. Activations stay NHWC; weights are reordered once at load; a
// residual Add and the Relu after it run inside the convolution that feeds them; every buffer is
// allocated at load; one thread. Each primitive runs on the fastest of oneDNN's implementations
// on this CPU, timed at the first load and kept in the user's cache folder. The whole network
// computes in one precision; the heads write f32. Told where the picture lies in a letterboxed
// input, the first stage runs only on the rows the picture reaches (what the bars give is kept
// from a black input).
class OneDnnBackend final : public InferenceBackend {
  public:
    struct Settings {
        // bf16 needs the CPU's instructions for it; without them, or when oneDNN refuses a
        // primitive in bf16, the network computes in f32 and precisionNote() says why.
        onednn::Precision precision = onednn::Precision::f32;
        // Each primitive on the fastest implementation (timed, or as cached); false: oneDNN's first.
        bool timed = true;
        // The timed choice kept in, and taken from, the cache folder.
        bool cached = true;
    };

    // None, with the reason in error, for an unreadable file or a graph with an operator,
    // attribute or shape outside that set (named in the message).
    static std::unique_ptr<OneDnnBackend> load(const std::string& path, int inputSize, const Settings& settings,
                                               std::string& error);
    ~OneDnnBackend() override;
    OneDnnBackend(const OneDnnBackend&) = delete;
    OneDnnBackend& operator=(const OneDnnBackend&) = delete;

    [[nodiscard]] const char* name() const override { return "onednn"; }
    [[nodiscard]] void* input() override;
    [[nodiscard]] InputFormat inputFormat() const override { return inputFormat_; }
    void setPictureRows(int top, int bottom) override;
    bool run() override;
    [[nodiscard]] NetworkOutputs outputs() const override { return outputs_; }

    // What the network computes in, and why not in the precision asked for (empty when it does).
    [[nodiscard]] onednn::Precision precision() const { return precision_; }
    [[nodiscard]] const std::string& precisionNote() const { return precisionNote_; }
    // Convolutions that carry a residual Add, and those that carry a Relu, as built.
    [[nodiscard]] int fusedAdds() const;
    [[nodiscard]] int fusedRelus() const;
    // Primitives timed at load: none when every choice came from the cache.
    [[nodiscard]] int timedPrimitives() const { return timedPrimitives_; }

    // Each step: what it is ("conv 3x3/1 24>24 128x128 jit_dw:avx512_core"), and run() with the
    // wall time of each step in microseconds.
    [[nodiscard]] std::vector<std::string> stepNames() const;
    bool runTimed(std::vector<double>& microseconds);

  private:
    OneDnnBackend() = default;
    static std::unique_ptr<OneDnnBackend> build(const onednn::Graph& graph, onednn::Precision precision,
                                                const Settings& settings, const std::string& path, int inputSize,
                                                std::string& error);
    bool runStep(std::size_t i);

    std::unique_ptr<onednn::Network> network_;
    std::unique_ptr<onednn::PictureRowsOnlyStage> firstStage_;
    NetworkOutputs outputs_;
    InputFormat inputFormat_ = InputFormat::f32;
    onednn::Precision precision_ = onednn::Precision::f32;
    std::string precisionNote_;
    int timedPrimitives_ = 0;
    std::vector<std::string> stepNames_;
};

}  // namespace tovak::facedetect
