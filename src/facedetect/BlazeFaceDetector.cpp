#include "facedetect/BlazeFaceDetector.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "facedetect/OneDnnBackend.h"
#include "facedetect/OpenCvDnnBackend.h"
#include "system/DataDirectory.h"

namespace tovak::facedetect {

using monitor::FaceObservation;

const char* BlazeFaceDetector::fileName(Model model) {
    return model == Model::fullRange ? "face_detection_back_256x256_barracuda.onnx"
                                     : "face_detection_front_128x128_barracuda.onnx";
}

std::string BlazeFaceDetector::installedPath(Model model) {
    return system::dataFile(std::string("models/") + fileName(model));
}

BlazeFaceDetector::BlazeFaceDetector(const std::string& modelPath, Model model, float scoreThreshold, Backend backend)
    : model_(model),
      inputSize_(model == Model::fullRange ? 256 : 128),
      scoreThreshold_(scoreThreshold),
      sampler_(inputSize_) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(modelPath, ec)) {
        loadError_ = "model file not found: " + modelPath;
        return;
    }
    if (backend != Backend::opencv) {
        OneDnnBackend::Settings settings;
        settings.precision = backend == Backend::onednn ? fastPrecision : onednn::Precision::f32;
        std::string error;
        auto loaded = OneDnnBackend::load(modelPath, inputSize_, settings, error);
        if (loaded) {
            precisionNote_ = loaded->precisionNote();
            backend_ = std::move(loaded);
        } else {
            fallbackReason_ = error;
        }
    }
    if (!backend_) {
        backend_ = facedetect::OpenCvDnnBackend::load(modelPath, inputSize_, loadError_);
        if (!backend_) {
            loadError_ += ": " + modelPath;
            if (!fallbackReason_.empty()) {
                loadError_ += "; oneDNN: " + fallbackReason_;
            }
            return;
        }
    }
    available_ = true;
}

BlazeFaceDetector::BlazeFaceDetector(std::unique_ptr<InferenceBackend> backend, Model model, float scoreThreshold)
    : model_(model),
      inputSize_(model == Model::fullRange ? 256 : 128),
      scoreThreshold_(scoreThreshold),
      available_(backend != nullptr),
      backend_(std::move(backend)),
      sampler_(inputSize_) {}

std::shared_ptr<BlazeFaceDetector> BlazeFaceDetector::createInstalled(Backend backend, std::ostream& log) {
    auto detector = std::make_shared<BlazeFaceDetector>(installedPath(), defaultModel, defaultScoreThreshold, backend);
    if (detector->isAvailable() && !detector->fallbackReason().empty()) {
        log << "tovak: face detection runs on OpenCV DNN: oneDNN refused the model: " << detector->fallbackReason()
            << "\n";
    }
    if (detector->isAvailable() && !detector->precisionNote().empty()) {
        log << "tovak: face detection runs in f32: " << detector->precisionNote() << "\n";
    }
    return detector;
}

BlazeFaceDetector::~BlazeFaceDetector() = default;

std::optional<facedetect::Letterbox> BlazeFaceDetector::runNetwork(const cv::Mat& upright) {
    const int channels = upright.channels();
    if (!available_ || upright.empty() || upright.depth() != CV_8U ||
        (channels != 1 && channels != 3 && channels != 4)) {
        return std::nullopt;
    }
    const facedetect::Letterbox box = sampler_.fill(upright.ptr(), upright.cols, upright.rows, upright.step, channels,
                                                    backend_->input(), backend_->inputFormat());
    backend_->setPictureRows(box.top, box.top + box.height);
    if (!backend_->run()) {
        return std::nullopt;
    }
    lastLetterbox_ = box;
    return box;
}

std::optional<std::vector<FaceObservation>> BlazeFaceDetector::detectUpright(const cv::Mat& upright) {
    std::lock_guard lock(mutex_);
    return detectUprightLocked(upright);
}

std::optional<std::vector<FaceObservation>> BlazeFaceDetector::detectUprightLocked(const cv::Mat& upright) {
    const std::optional<facedetect::Letterbox> box = runNetwork(upright);
    if (!box) {
        return std::nullopt;
    }
    return facedetect::decodeFaces(backend_->outputs(), {inputSize_, scoreThreshold_, mergeOverlap}, *box, upright.cols,
                                   upright.rows);
}

std::optional<facedetect::NetworkOutputs> BlazeFaceDetector::rawOutputs(const cv::Mat& upright) {
    std::lock_guard lock(mutex_);
    if (!runNetwork(upright)) {
        return std::nullopt;
    }
    return backend_->outputs();
}

namespace {

// A face scoring under steadyScore, or a detection over nearMissScore that did not make the
// threshold, may come and go with the grain alone (on a grainy camera a poster's score wanders
// between 0.2 and 0.55 from frame to frame): after one, every frame is detected in full for
// unsteadySeconds, so reusing a face list never keeps or hides what the network would decide;
// unless the scores of the frames detected so show so little spread (ScoreMargin) that no frame
// like them would cross the threshold.
constexpr float steadyScore = 0.65F;
constexpr float nearMissScore = 0.35F;
constexpr double unsteadySeconds = 1.0;

// Boxes of the upright picture (origin lower left) in the frame's own pixels (origin top left);
// none when the orientation turns the picture, where the change test is not used.
bool framePixelBoxes(const std::vector<FaceObservation>& faces, imaging::Orientation orientation,
                     std::vector<imaging::Rect>& boxes) {
    if (orientation != imaging::Orientation::up && orientation != imaging::Orientation::upMirrored) {
        return false;
    }
    boxes.clear();
    for (const FaceObservation& face : faces) {
        imaging::Rect box = face.boundingBox;
        box.y = 1.0 - box.y - box.height;
        if (orientation == imaging::Orientation::upMirrored) {
            box.x = 1.0 - box.x - box.width;
        }
        boxes.push_back(box);
    }
    return true;
}

}  // namespace

void BlazeFaceDetector::useChangeTest(std::shared_ptr<const runtime::Clock> clock) {
    std::lock_guard lock(mutex_);
    changeClock_ = std::move(clock);
    changeTest_.forget();
    scoreMargin_.clear();
    framesDetected_ = 0;
    framesSeen_ = 0;
}

std::optional<std::vector<FaceObservation>> BlazeFaceDetector::detectFrame(const cv::Mat& frame,
                                                                           imaging::Orientation orientation) {
    std::lock_guard lock(mutex_);
    const bool testable = changeClock_ && frame.depth() == CV_8U &&
                          (orientation == imaging::Orientation::up || orientation == imaging::Orientation::upMirrored);
    ++framesSeen_;
    const double now = testable ? changeClock_->now() : 0.0;
    // The picture is reduced even while unsteady, so the noise goes on being learnt.
    if (testable &&
        !changeTest_.needsDetection(frame.ptr(), frame.cols, frame.rows, frame.step, frame.channels(), now) &&
        (now >= unsteadyUntil_ || now < unsteadySince_)) {
        return lastFound_;
    }
    ++framesDetected_;
    const cv::Mat* upright = &frame;
    cv::Mat turned;
    if (orientation != imaging::Orientation::up) {
        imaging::applyOrientation(frame, turned, orientation);
        upright = &turned;
    }
    std::optional<std::vector<FaceObservation>> found = detectUprightLocked(*upright);
    if (!testable) {
        return found;
    }
    bool steady = found.has_value();
    if (steady) {
        float lowestFace = 1;
        for (const FaceObservation& face : *found) {
            lowestFace = std::min(lowestFace, face.confidence);
        }
        const std::vector<FaceObservation> looser =
            facedetect::decodeFaces(backend_->outputs(), {inputSize_, nearMissScore, mergeOverlap}, lastLetterbox_,
                                    upright->cols, upright->rows);
        float highestMiss = 0;
        for (const FaceObservation& face : looser) {
            if (face.confidence < scoreThreshold_) {
                highestMiss = std::max(highestMiss, face.confidence);
            }
        }
        if (looser.size() != found->size() && highestMiss == 0) {
            // Blending placed the miss in a face: no score tells how near it came.
            highestMiss = scoreThreshold_;
        }
        scoreMargin_.add(found->size(), lowestFace, highestMiss);
        steady = lowestFace >= steadyScore && looser.size() == found->size();
        // Settled scores end the time of full detections; a frame that merely looks steady does not.
        if (scoreMargin_.settled(scoreThreshold_)) {
            steady = true;
            unsteadyUntil_ = std::min(unsteadyUntil_, now);
        }
    } else {
        scoreMargin_.clear();
    }
    if (steady && framePixelBoxes(*found, orientation, lastBoxes_)) {
        lastFound_ = *found;
        changeTest_.detected(lastBoxes_);
    } else {
        changeTest_.forget();
        unsteadySince_ = now;
        unsteadyUntil_ = now + unsteadySeconds;
    }
    return found;
}

namespace {

// One frame's requests. The rectangle pass reports boxes only, as a rectangle request does, and
// keeps the keypoints the network gave with them, so the landmark pass costs no second run.
class BlazeFaceHandler final : public monitor::FaceRequestHandler {
  public:
    BlazeFaceHandler(BlazeFaceDetector& detector, imaging::PixelBufferPtr frame, imaging::Orientation orientation)
        : detector_(detector), frame_(std::move(frame)), orientation_(orientation) {}

    std::optional<std::vector<FaceObservation>> performFaceRectangles() override {
        if (!frame_ || frame_->mat().empty()) {
            return std::nullopt;
        }
        found_ = detector_.detectFrame(frame_->mat(), orientation_);
        if (!found_) {
            return std::nullopt;
        }
        std::vector<FaceObservation> boxes = *found_;
        for (FaceObservation& face : boxes) {
            face.landmarks.clear();
        }
        return boxes;
    }

    // The faces given, in their order, each with the keypoints of the detection it came from. A
    // face this handler did not find is returned as it was given: the pass never drops a face.
    std::optional<std::vector<FaceObservation>> performLandmarks(const std::vector<FaceObservation>& faces) override {
        if (!found_) {
            return std::nullopt;
        }
        std::vector<FaceObservation> result;
        result.reserve(faces.size());
        for (const FaceObservation& face : faces) {
            FaceObservation refined = face;
            for (const FaceObservation& known : *found_) {
                if (known.boundingBox == face.boundingBox) {
                    refined.landmarks = known.landmarks;
                    break;
                }
            }
            result.push_back(std::move(refined));
        }
        return result;
    }

  private:
    BlazeFaceDetector& detector_;
    imaging::PixelBufferPtr frame_;
    imaging::Orientation orientation_;
    std::optional<std::vector<FaceObservation>> found_;
};

}  // namespace

std::unique_ptr<monitor::FaceRequestHandler> BlazeFaceDetector::makeHandler(imaging::PixelBufferPtr frame,
                                                                            imaging::Orientation orientation) {
    return std::make_unique<BlazeFaceHandler>(*this, std::move(frame), orientation);
}

}  // namespace tovak::facedetect
