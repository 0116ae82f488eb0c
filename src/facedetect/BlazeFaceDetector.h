#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "facedetect/ChangeTest.h"
#include "facedetect/InferenceBackend.h"
#include "facedetect/LetterboxSampler.h"
#include "facedetect/onednn/Precision.h"
#include "monitor/ports/FaceDetector.h"
#include "runtime/Clock.h"

namespace tovak::facedetect {

// MediaPipe BlazeFace. The frame is turned upright and letterboxed into the model's square input;
// the network runs on oneDNN or on OpenCV DNN; the 896 anchors are decoded and overlapping
// detections are blended into one.
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

    enum class Backend {
        // OpenCV DNN: the reference, and the fallback when oneDNN cannot load the model.
        opencv,
        // The graph built on oneDNN, one thread, in the narrower precision where the CPU has the
        // instructions for it (f32 where it has not): the fast path (docs/performance.md).
        onednn,
        // The same in f32 throughout: the fast path's reference.
        onednnF32,
    };
    static constexpr Backend defaultBackend = Backend::onednn;
    // The fast path's precision: chosen by measurement (docs/performance.md).
    static constexpr onednn::Precision fastPrecision = onednn::Precision::bf16;

    // The least blended score of a face that counts; chosen by measurement (docs/performance.md).
    static constexpr float defaultScoreThreshold = 0.5F;
    // Detections overlapping more than this (intersection over union) are one face.
    static constexpr float mergeOverlap = 0.3F;

    // Loads the model file; a missing, unreadable or wrongly shaped model leaves the detector
    // unavailable, with the reason in loadError(). A model oneDNN cannot build runs on OpenCV DNN,
    // with oneDNN's reason in fallbackReason().
    BlazeFaceDetector(const std::string& modelPath, Model model, float scoreThreshold = defaultScoreThreshold,
                      Backend backend = defaultBackend);
    // On a network already loaded for the model.
    BlazeFaceDetector(std::unique_ptr<InferenceBackend> backend, Model model,
                      float scoreThreshold = defaultScoreThreshold);
    ~BlazeFaceDetector() override;
    BlazeFaceDetector(const BlazeFaceDetector&) = delete;
    BlazeFaceDetector& operator=(const BlazeFaceDetector&) = delete;

    // The installed default model on the backend asked for; a fallback (to OpenCV DNN, or to f32)
    // is told on log.
    static std::shared_ptr<BlazeFaceDetector> createInstalled(Backend backend, std::ostream& log);

    static const char* fileName(Model model);
    // The model as installed in the data folder (share/tovak/models).
    [[nodiscard]] static std::string installedPath(Model model = defaultModel);

    [[nodiscard]] bool isAvailable() const override { return available_; }
    [[nodiscard]] const std::string& loadError() const { return loadError_; }
    [[nodiscard]] const std::string& fallbackReason() const { return fallbackReason_; }
    // Why the oneDNN fast path computes in f32 after all; empty when it does not.
    [[nodiscard]] const std::string& precisionNote() const { return precisionNote_; }
    // "onednn" or "opencv": the backend that runs; empty when none loaded.
    [[nodiscard]] std::string backendName() const { return backend_ ? backend_->name() : ""; }
    [[nodiscard]] int inputSize() const { return inputSize_; }

    // From now on a frame whose picture did not change where it matters reuses the faces of the last
    // frame detected in full (ChangeTest); clock gives the frames' times. Without this call, or after
    // it with none, every frame goes through the network.
    void useChangeTest(std::shared_ptr<const runtime::Clock> clock);
    // Frames detected in full and frames given since the change test was switched on.
    [[nodiscard]] std::int64_t framesDetected() const { return framesDetected_; }
    [[nodiscard]] std::int64_t framesSeen() const { return framesSeen_; }

    [[nodiscard]] std::unique_ptr<monitor::FaceRequestHandler> makeHandler(imaging::PixelBufferPtr frame,
                                                                           imaging::Orientation orientation) override;

    // Every face of an upright BGRA or BGR image, best first, boxes normalised with the origin at
    // the lower left; none when the network failed.
    std::optional<std::vector<monitor::FaceObservation>> detectUpright(const cv::Mat& upright);

    // The faces of a frame as it comes from the camera: the last faces found when the change test
    // lets it reuse them, else detectUpright on the frame turned upright. Session queue.
    std::optional<std::vector<monitor::FaceObservation>> detectFrame(const cv::Mat& frame,
                                                                     imaging::Orientation orientation);

    // The network's four outputs for the last upright image given to detectUpright, before
    // decoding: how the backends are compared. None when the network failed.
    std::optional<facedetect::NetworkOutputs> rawOutputs(const cv::Mat& upright);

  private:
    // The picture through the network; where it landed in the input, none when it cannot be run.
    std::optional<facedetect::Letterbox> runNetwork(const cv::Mat& upright);
    std::optional<std::vector<monitor::FaceObservation>> detectUprightLocked(const cv::Mat& upright);

    Model model_;
    int inputSize_;
    float scoreThreshold_;
    bool available_ = false;
    std::string loadError_;
    std::string fallbackReason_;
    std::string precisionNote_;

    // One network and its buffers, reused for every frame; frames come one at a time, the mutex
    // only guards against a second caller.
    std::mutex mutex_;
    std::unique_ptr<facedetect::InferenceBackend> backend_;
    facedetect::LetterboxSampler sampler_;
    facedetect::Letterbox lastLetterbox_;

    // Session queue only.
    std::shared_ptr<const runtime::Clock> changeClock_;
    ChangeTest changeTest_;
    std::vector<monitor::FaceObservation> lastFound_;
    std::vector<imaging::Rect> lastBoxes_;
    // Every frame goes to the network from the first to the second (frames' clock).
    double unsteadySince_ = 0;
    double unsteadyUntil_ = 0;
    ScoreMargin scoreMargin_;
    std::atomic<std::int64_t> framesDetected_ = 0;
    std::atomic<std::int64_t> framesSeen_ = 0;
};

}  // namespace tovak::facedetect
