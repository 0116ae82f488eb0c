#pragma once

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <string>

#include "platform/opencv/BlazeFaceDetector.h"
#include "platform/opencv/DataDirectory.h"

namespace tovak::testing {

// The demo photographs and the model as laid out in the build tree by scripts/setup and the
// build; a test that needs them fails when they are missing, since the suite's setup installs
// them.
inline std::string demoPhoto(const std::string& name) {
    return platform::dataFile("demo/" + name);
}

inline cv::Mat loadDemoPhoto(const std::string& name) {
    cv::Mat image = cv::imread(demoPhoto(name), cv::IMREAD_COLOR);
    EXPECT_FALSE(image.empty()) << demoPhoto(name) << " is missing: run scripts/setup";
    return image;
}

inline std::string modelPath(bool fullRange) {
    using platform::BlazeFaceDetector;
    return BlazeFaceDetector::installedPath(fullRange ? BlazeFaceDetector::Model::fullRange
                                                      : BlazeFaceDetector::Model::shortRange);
}

}  // namespace tovak::testing
