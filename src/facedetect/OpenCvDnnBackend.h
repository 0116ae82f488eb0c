#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <string>
#include <vector>

#include "facedetect/InferenceBackend.h"

namespace tovak::facedetect {

// The network on OpenCV DNN: the reference the faster backend is checked against, and the
// fallback when that one cannot load a model.
class OpenCvDnnBackend final : public InferenceBackend {
  public:
    // None, with the reason in error, when the file cannot be read or does not give BlazeFace's
    // outputs for an input of inputSize.
    static std::unique_ptr<OpenCvDnnBackend> load(const std::string& path, int inputSize, std::string& error);

    [[nodiscard]] const char* name() const override { return "opencv"; }
    [[nodiscard]] void* input() override { return blob_.ptr<float>(); }
    bool run() override;
    [[nodiscard]] NetworkOutputs outputs() const override { return assigned_; }

  private:
    OpenCvDnnBackend() = default;
    bool forward(std::string& error);

    cv::dnn::Net net_;
    std::vector<cv::String> outputNames_;
    cv::Mat blob_;
    std::vector<cv::Mat> outputs_;
    NetworkOutputs assigned_;
};

}  // namespace tovak::facedetect
