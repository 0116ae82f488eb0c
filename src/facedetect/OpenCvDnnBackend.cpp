#include "facedetect/OpenCvDnnBackend.h"

#include <utility>

namespace tovak::facedetect {

std::unique_ptr<OpenCvDnnBackend> OpenCvDnnBackend::load(const std::string& path, int inputSize, std::string& error) {
    std::unique_ptr<OpenCvDnnBackend> backend(new OpenCvDnnBackend());
    try {
        backend->net_ = cv::dnn::readNetFromONNX(path);
        backend->net_.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        backend->net_.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        backend->outputNames_ = backend->net_.getUnconnectedOutLayersNames();
    } catch (const cv::Exception& e) {
        error = std::string("model cannot be loaded: ") + e.what();
        return nullptr;
    }
    const int shape[] = {1, inputSize, inputSize, 3};
    backend->blob_.create(4, shape, CV_32F);
    backend->blob_.setTo(0);
    // The first run allocates the network's buffers and tells which output is which.
    if (!backend->forward(error)) {
        return nullptr;
    }
    return backend;
}

bool OpenCvDnnBackend::forward(std::string& error) {
    try {
        net_.setInput(blob_);
        net_.forward(outputs_, outputNames_);
    } catch (const cv::Exception& e) {
        error = std::string("model cannot be run: ") + e.what();
        return false;
    }
    std::vector<std::pair<const float*, std::size_t>> found;
    for (const cv::Mat& out : outputs_) {
        if (out.type() != CV_32F || !out.isContinuous()) {
            error = "model has unexpected outputs";
            return false;
        }
        found.emplace_back(out.ptr<float>(), out.total());
    }
    return assignOutputs(found, assigned_, error);
}

bool OpenCvDnnBackend::run() {
    std::string error;
    return forward(error);
}

}  // namespace tovak::facedetect
