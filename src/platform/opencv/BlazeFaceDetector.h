#pragma once

#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <optional>
#include <string>
#include <vector>

#include "monitor/FaceDetector.h"

namespace tovak::platform {

// MediaPipe BlazeFace on OpenCV DNN. The frame is turned upright, letterboxed into the model's
// square input, the 896 anchors are decoded and overlapping detections are blended into one.
class BlazeFaceDetector final : public monitor::FaceDetector {
  public:
    enum class Model {
        // 128 x 128, trained on faces near the camera.
        shortRange,
        // 256 x 256, trained on faces further away as well.
        fullRange,
    };

    // The model Tovak runs: the short-range model misses a face a step or two behind the user,
    // which is the face this guard exists to see (docs/performance.md).
    static constexpr Model defaultModel = Model::fullRange;

    // The least blended score of a face that counts; chosen by measurement (docs/performance.md).
    static constexpr float defaultScoreThreshold = 0.5F;
    // Detections overlapping more than this (intersection over union) are one face.
    static constexpr float mergeOverlap = 0.3F;

    // Loads the model file; a missing, unreadable or wrongly shaped model leaves the detector
    // unavailable, with the reason in loadError().
    BlazeFaceDetector(const std::string& modelPath, Model model, float scoreThreshold = defaultScoreThreshold);
    ~BlazeFaceDetector() override;
    BlazeFaceDetector(const BlazeFaceDetector&) = delete;
    BlazeFaceDetector& operator=(const BlazeFaceDetector&) = delete;

    static const char* fileName(Model model);
    // The model as installed in the data folder (share/tovak/models).
    [[nodiscard]] static std::string installedPath(Model model = defaultModel);

    [[nodiscard]] bool isAvailable() const override { return available_; }
    [[nodiscard]] const std::string& loadError() const { return loadError_; }
    [[nodiscard]] int inputSize() const { return inputSize_; }

    [[nodiscard]] std::unique_ptr<monitor::FaceRequestHandler> makeHandler(imaging::PixelBufferPtr frame,
                                                                           imaging::Orientation orientation) override;

    // Every face of an upright BGRA or BGR image, best first, boxes normalised with the origin at
    // the lower left; none when the network failed.
    std::optional<std::vector<monitor::FaceObservation>> detectUpright(const cv::Mat& upright);

  private:
    bool runNetwork(const cv::Mat& upright, double& scale, double& padX, double& padY);
    std::vector<monitor::FaceObservation> decode(const cv::Mat& upright, double scale, double padX, double padY) const;

    Model model_;
    int inputSize_;
    float scoreThreshold_;
    bool available_ = false;
    std::string loadError_;

    // One network and its buffers, reused for every frame; frames come one at a time, the mutex
    // only guards against a second caller.
    std::mutex mutex_;
    cv::dnn::Net net_;
    std::vector<cv::String> outputNames_;
    cv::Mat resized_;
    cv::Mat letterboxed_;
    cv::Mat blob_;
    std::vector<cv::Mat> outputs_;
    int scoresSmall_ = -1;
    int scoresLarge_ = -1;
    int boxesSmall_ = -1;
    int boxesLarge_ = -1;
};

}  // namespace tovak::platform
