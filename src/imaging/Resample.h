#pragma once

#include <opencv2/core.hpp>

namespace tovak::imaging {

// Bilinear resample of 4-channel bytes into all of dst (already allocated), where destination index =
// k * source index + offset on each axis, pixel centres at whole indices; dst's first row is row
// firstRow of that destination, so a band of rows comes out as it does in the whole. Samples beyond
// the source repeat its edge. Weights are in 1/256ths; large pictures are split between helper
// threads joined before return.
void resampleBilinear(const cv::Mat& src, cv::Mat& dst, double kx, double ky, double offsetX, double offsetY,
                      int firstRow = 0);

}  // namespace tovak::imaging
