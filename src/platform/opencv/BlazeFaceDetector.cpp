#include "platform/opencv/BlazeFaceDetector.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <opencv2/imgproc.hpp>
#include <utility>

#include "platform/opencv/DataDirectory.h"

namespace tovak::platform {

using monitor::FaceObservation;

namespace {

constexpr int kSmallAnchors = 512;  // 16 x 16 cells, 2 anchors each
constexpr int kLargeAnchors = 384;  // 8 x 8 cells, 6 anchors each
constexpr int kValuesPerAnchor = 16;
constexpr int kKeypoints = 6;

struct Candidate {
    float score = 0;
    // In letterbox units (0 to 1 over the square input), origin at the top left.
    float cx = 0, cy = 0, w = 0, h = 0;
    float keypoints[2 * kKeypoints] = {};
};

float overlap(const Candidate& a, const Candidate& b) {
    const float ix = std::min(a.cx + a.w / 2, b.cx + b.w / 2) - std::max(a.cx - a.w / 2, b.cx - b.w / 2);
    const float iy = std::min(a.cy + a.h / 2, b.cy + b.h / 2) - std::max(a.cy - a.h / 2, b.cy - b.h / 2);
    if (ix <= 0 || iy <= 0) {
        return 0;
    }
    const float inter = ix * iy;
    const float uni = a.w * a.h + b.w * b.h - inter;
    return uni > 0 ? inter / uni : 0;
}

// Each group of overlapping detections becomes one face: its coordinates are the score-weighted
// mean of the group, which steadies the box from frame to frame; its score is the best one's.
std::vector<Candidate> blend(std::vector<Candidate> candidates, float mergeOverlap) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    std::vector<Candidate> faces;
    std::vector<bool> used(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (used[i]) {
            continue;
        }
        Candidate sum{};
        float weight = 0;
        for (std::size_t j = i; j < candidates.size(); ++j) {
            if (used[j] || overlap(candidates[i], candidates[j]) <= mergeOverlap) {
                continue;
            }
            used[j] = true;
            const Candidate& c = candidates[j];
            sum.cx += c.cx * c.score;
            sum.cy += c.cy * c.score;
            sum.w += c.w * c.score;
            sum.h += c.h * c.score;
            for (int k = 0; k < 2 * kKeypoints; ++k) {
                sum.keypoints[k] += c.keypoints[k] * c.score;
            }
            weight += c.score;
        }
        Candidate face = sum;
        face.cx /= weight;
        face.cy /= weight;
        face.w /= weight;
        face.h /= weight;
        for (float& k : face.keypoints) {
            k /= weight;
        }
        face.score = candidates[i].score;
        faces.push_back(face);
    }
    return faces;
}

}  // namespace

const char* BlazeFaceDetector::fileName(Model model) {
    return model == Model::fullRange ? "face_detection_back_256x256_barracuda.onnx"
                                     : "face_detection_front_128x128_barracuda.onnx";
}

std::string BlazeFaceDetector::installedPath(Model model) {
    return dataFile(std::string("models/") + fileName(model));
}

BlazeFaceDetector::BlazeFaceDetector(const std::string& modelPath, Model model, float scoreThreshold)
    : model_(model), inputSize_(model == Model::fullRange ? 256 : 128), scoreThreshold_(scoreThreshold) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(modelPath, ec)) {
        loadError_ = "model file not found: " + modelPath;
        return;
    }
    try {
        net_ = cv::dnn::readNetFromONNX(modelPath);
        net_.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net_.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        outputNames_ = net_.getUnconnectedOutLayersNames();
        const int shape[] = {1, inputSize_, inputSize_, 3};
        blob_.create(4, shape, CV_32F);
        blob_.setTo(0);
        // The first run allocates the network's buffers and tells which output is which.
        net_.setInput(blob_);
        net_.forward(outputs_, outputNames_);
    } catch (const cv::Exception& e) {
        loadError_ = "model cannot be loaded: " + modelPath + ": " + e.what();
        return;
    }
    for (int i = 0; i < static_cast<int>(outputs_.size()); ++i) {
        const std::size_t n = outputs_[static_cast<std::size_t>(i)].total();
        if (n == kSmallAnchors) {
            scoresSmall_ = i;
        } else if (n == kLargeAnchors) {
            scoresLarge_ = i;
        } else if (n == std::size_t{kSmallAnchors} * kValuesPerAnchor) {
            boxesSmall_ = i;
        } else if (n == std::size_t{kLargeAnchors} * kValuesPerAnchor) {
            boxesLarge_ = i;
        }
    }
    if (outputs_.size() != 4 || scoresSmall_ < 0 || scoresLarge_ < 0 || boxesSmall_ < 0 || boxesLarge_ < 0) {
        loadError_ = "model has unexpected outputs: " + modelPath;
        return;
    }
    available_ = true;
}

BlazeFaceDetector::~BlazeFaceDetector() = default;

bool BlazeFaceDetector::runNetwork(const cv::Mat& upright, double& scale, double& padX, double& padY) {
    const int size = inputSize_;
    scale = static_cast<double>(size) / std::max(upright.cols, upright.rows);
    const int width = std::clamp(static_cast<int>(std::lround(upright.cols * scale)), 1, size);
    const int height = std::clamp(static_cast<int>(std::lround(upright.rows * scale)), 1, size);
    const int left = (size - width) / 2;
    const int top = (size - height) / 2;
    padX = left;
    padY = top;

    // Letterbox: the picture keeps its proportions, centred on black.
    cv::resize(upright, resized_, cv::Size(width, height), 0, 0, cv::INTER_AREA);
    letterboxed_.create(size, size, CV_8UC3);
    letterboxed_.setTo(cv::Scalar::all(0));
    cv::Mat target = letterboxed_(cv::Rect(left, top, width, height));
    const int code = resized_.channels() == 4   ? cv::COLOR_BGRA2RGB
                     : resized_.channels() == 3 ? cv::COLOR_BGR2RGB
                                                : cv::COLOR_GRAY2RGB;
    cv::cvtColor(resized_, target, code);

    // NHWC with values in [-1, 1]: the letterboxed RGB image is that layout already.
    cv::Mat input(size, size, CV_32FC3, blob_.ptr<float>());
    letterboxed_.convertTo(input, CV_32F, 1.0 / 127.5, -1.0);
    try {
        net_.setInput(blob_);
        net_.forward(outputs_, outputNames_);
    } catch (const cv::Exception&) {
        return false;
    }
    return true;
}

std::vector<FaceObservation> BlazeFaceDetector::decode(const cv::Mat& upright, double scale, double padX,
                                                       double padY) const {
    const float logitThreshold = std::log(scoreThreshold_ / (1.0F - scoreThreshold_));
    const auto size = static_cast<float>(inputSize_);
    std::vector<Candidate> candidates;
    const auto take = [&](const cv::Mat& scores, const cv::Mat& boxes, int count, int cells, int perCell) {
        const auto* s = scores.ptr<float>();
        const auto* b = boxes.ptr<float>();
        for (int i = 0; i < count; ++i) {
            if (!(s[i] >= logitThreshold)) {
                continue;
            }
            const int cell = i / perCell;
            const float ax = (static_cast<float>(cell % cells) + 0.5F) / static_cast<float>(cells);
            const float ay = (static_cast<float>(cell / cells) + 0.5F) / static_cast<float>(cells);
            const float* r = b + static_cast<std::ptrdiff_t>(i) * kValuesPerAnchor;
            Candidate c;
            c.score = 1.0F / (1.0F + std::exp(-std::min(s[i], 80.0F)));
            c.cx = ax + r[0] / size;
            c.cy = ay + r[1] / size;
            c.w = r[2] / size;
            c.h = r[3] / size;
            for (int k = 0; k < kKeypoints; ++k) {
                c.keypoints[2 * k] = ax + r[4 + 2 * k] / size;
                c.keypoints[2 * k + 1] = ay + r[5 + 2 * k] / size;
            }
            if (c.w > 0 && c.h > 0) {
                candidates.push_back(c);
            }
        }
    };
    const auto& o = outputs_;
    take(o[static_cast<std::size_t>(scoresSmall_)], o[static_cast<std::size_t>(boxesSmall_)], kSmallAnchors, 16, 2);
    take(o[static_cast<std::size_t>(scoresLarge_)], o[static_cast<std::size_t>(boxesLarge_)], kLargeAnchors, 8, 6);

    // From the square input back to the upright image, normalised, origin at the lower left.
    const double width = upright.cols;
    const double height = upright.rows;
    const auto toX = [&](double u) { return (u * inputSize_ - padX) / scale / width; };
    const auto toY = [&](double v) { return 1.0 - (v * inputSize_ - padY) / scale / height; };
    std::vector<FaceObservation> faces;
    for (const Candidate& c : blend(std::move(candidates), mergeOverlap)) {
        const double x0 = std::clamp(toX(c.cx - c.w / 2), 0.0, 1.0);
        const double x1 = std::clamp(toX(c.cx + c.w / 2), 0.0, 1.0);
        const double y0 = std::clamp(toY(c.cy + c.h / 2), 0.0, 1.0);
        const double y1 = std::clamp(toY(c.cy - c.h / 2), 0.0, 1.0);
        if (x1 <= x0 || y1 <= y0) {
            continue;
        }
        FaceObservation face;
        face.boundingBox = imaging::Rect{x0, y0, x1 - x0, y1 - y0};
        face.confidence = c.score;
        for (int k = 0; k < kKeypoints; ++k) {
            face.landmarks.push_back(monitor::Point{toX(c.keypoints[2 * k]), toY(c.keypoints[2 * k + 1])});
        }
        faces.push_back(std::move(face));
    }
    return faces;
}

std::optional<std::vector<FaceObservation>> BlazeFaceDetector::detectUpright(const cv::Mat& upright) {
    if (!available_ || upright.empty()) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    double scale = 1;
    double padX = 0;
    double padY = 0;
    if (!runNetwork(upright, scale, padX, padY)) {
        return std::nullopt;
    }
    return decode(upright, scale, padX, padY);
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
        const cv::Mat* upright = &frame_->mat();
        cv::Mat turned;
        if (orientation_ != imaging::Orientation::up) {
            imaging::applyOrientation(frame_->mat(), turned, orientation_);
            upright = &turned;
        }
        found_ = detector_.detectUpright(*upright);
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

}  // namespace tovak::platform
