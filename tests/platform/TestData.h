#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace tovak::testing {

// The demo photographs and the model as laid out in the build tree by scripts/setup and the
// build; a test that needs them fails when they are missing, since the suite's setup installs
// them.
std::string demoPhoto(const std::string& name);
cv::Mat loadDemoPhoto(const std::string& name);
std::string modelPath(bool fullRange);

}  // namespace tovak::testing
