#include "TestData.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "platform/opencv/BlazeFaceDetector.h"
#include "platform/opencv/DataDirectory.h"

namespace tovak::testing {

std::string demoPhoto(const std::string& name) {
    return platform::dataFile("demo/" + name);
}

cv::Mat loadDemoPhoto(const std::string& name) {
    cv::Mat image = cv::imread(demoPhoto(name), cv::IMREAD_COLOR);
    EXPECT_FALSE(image.empty()) << demoPhoto(name) << " is missing: run scripts/setup";
    return image;
}

std::string modelPath(bool fullRange) {
    using platform::BlazeFaceDetector;
    return BlazeFaceDetector::installedPath(fullRange ? BlazeFaceDetector::Model::fullRange
                                                      : BlazeFaceDetector::Model::shortRange);
}

}  // namespace tovak::testing
