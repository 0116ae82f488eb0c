#pragma once

#include <memory>
#include <string>

#include "facedetect/InferenceBackend.h"

namespace tovak::facedetect {

namespace onednn {
struct Network;
class PictureRowsOnlyStage;
}  // namespace onednn

// The network built from the ONNX graph itself on oneDNN, for the operators BlazeFace uses: Conv
// (grouped and depthwise too), Relu, Add, MaxPool, the zero-channel pad (ConstantOfShape and
// Concat), Transpose and Reshape. Activations stay NHWC; weights are reordered once at load; a
// residual Add and the Relu after it run inside the convolution that feeds them; every buffer is
// allocated at load; one thread. Told where the picture lies in a letterboxed input, the first
// stage runs only on the rows the picture reaches (what the bars give is kept from a black input).
class OneDnnBackend final : public InferenceBackend {
  public:
    // None, with the reason in error, for an unreadable file or a graph with an operator,
    // attribute or shape outside that set (named in the message).
    static std::unique_ptr<OneDnnBackend> load(const std::string& path, int inputSize, std::string& error);
    ~OneDnnBackend() override;
    OneDnnBackend(const OneDnnBackend&) = delete;
    OneDnnBackend& operator=(const OneDnnBackend&) = delete;

    [[nodiscard]] const char* name() const override { return "onednn"; }
    [[nodiscard]] float* input() override;
    void setPictureRows(int top, int bottom) override;
    bool run() override;
    [[nodiscard]] NetworkOutputs outputs() const override { return outputs_; }

    // Convolutions that carry a residual Add, and those that carry a Relu, as built.
    [[nodiscard]] int fusedAdds() const;
    [[nodiscard]] int fusedRelus() const;

  private:
    OneDnnBackend(std::unique_ptr<onednn::Network> network, std::unique_ptr<onednn::PictureRowsOnlyStage> firstStage,
                  NetworkOutputs outputs);

    std::unique_ptr<onednn::Network> network_;
    std::unique_ptr<onednn::PictureRowsOnlyStage> firstStage_;
    NetworkOutputs outputs_;
};

}  // namespace tovak::facedetect
