#pragma once

#include <cstddef>
#include <map>
#include <oneapi/dnnl/dnnl.hpp>
#include <optional>
#include <string>
#include <vector>

#include "facedetect/onednn/BufferPlan.h"
#include "facedetect/onednn/Graph.h"
#include "facedetect/onednn/Network.h"
#include "facedetect/onednn/NumberPlan.h"
#include "facedetect/onednn/PrimitiveBuilder.h"

namespace tovak::facedetect::onednn {

// The first stage of the network, at half the input's size, takes most of the time. A letterboxed
// camera picture leaves rows of black above and below it, and the rows of the stage that see only
// those give the same values every frame: they are computed once, from a black input, and the
// stage's convolutions then run only on the rows the picture reaches. When a partial convolution
// cannot be made or run, the stage runs on every row from then on: slower, the same values.
class PictureRowsOnlyStage {
  public:
    // The stage: the convolutions from the input on whose output is half the input's size, reading
    // the input or what an earlier one of them wrote; the network's first steps.
    // blackPixel: black (-1) in the input's type, three channels.
    PictureRowsOnlyStage(const Graph& graph, const BufferPlan& plan, const NumberPlan& numbers, const Network& network,
                         const std::vector<BuiltStep>& built, int inputSize, std::vector<std::byte> blackPixel);

    // How many of the network's first steps are the stage's.
    [[nodiscard]] std::size_t size() const { return convs_.size(); }
    // The rows of the input the picture covers; the rest hold black.
    void setPictureRows(int top, int bottom);
    // For new picture rows: the rows each tensor needs, the partial convolutions, the black rows kept.
    void prepare(Network& network);
    // The stage's step i on the picture's rows, and the black rows put back; false when it failed.
    bool run(std::size_t i, Network& network);

  private:
    struct Rows {
        int begin = 0;
        int end = 0;
        [[nodiscard]] bool empty() const { return begin >= end; }
    };
    struct Tensor {
        std::byte* data = nullptr;
        dnnl::memory::data_type type = dnnl::memory::data_type::f32;
        std::size_t elementBytes = 4;
        int channels = 0;
        int height = 0;
        int width = 0;
        bool readWhole = false;  // an op after the stage reads it
        Rows reached;            // rows that the picture can change
        Rows needed;             // rows its readers read
        std::vector<std::byte> above;
        std::vector<std::byte> below;  // a black input's values of the needed rows outside reached
        [[nodiscard]] std::size_t rowBytes() const {
            return static_cast<std::size_t>(width) * static_cast<std::size_t>(channels) * elementBytes;
        }
        [[nodiscard]] std::byte* row(int y) const { return data + static_cast<std::size_t>(y) * rowBytes(); }
    };
    struct Conv {
        int src = 0;
        int residual = -1;
        int out = 0;
        int kernel = 1;
        int stride = 1;
        int padTop = 0;
        dnnl::memory::dims strides, padBegin, padEnd;
        dnnl::memory plainWeights;
        dnnl::memory::data_type weightType = dnnl::memory::data_type::f32;
        dnnl::memory bias;
        // The whole convolution's, scales and post-ops included: the part sums and clamps alike.
        dnnl::primitive_attr attributes;
        std::string implementation;
        // Built for the picture's rows, with the memory it runs on; none when they are all the rows.
        std::optional<Step> part;
        std::vector<dnnl::memory> partMemory;
    };

    // Fills tensors_ and convs_; returns the stage's tensor of each value its convolutions write.
    std::map<int, int> collectConvs(const Graph& graph, const BufferPlan& plan, const NumberPlan& numbers,
                                    const Network& network, const std::vector<BuiltStep>& built, int inputSize);
    void markReadWhole(const Graph& graph, const std::vector<BuiltStep>& built, const std::map<int, int>& tensorOf);
    static void unite(Rows& into, Rows more);
    void findRows();
    void findReachedRows();
    void findNeededRows();
    void buildParts(Network& network);
    // The partial convolution for the rows conv makes; the scratchpad it needs, 0 for none.
    std::size_t buildPart(Conv& conv, Network& network);
    bool keepBlackRows(Network& network);
    // The rows of t that its readers need and the picture did not reach, as a black input left them.
    static void restoreOutside(const Tensor& t);

    std::vector<Tensor> tensors_;  // the input first
    std::vector<std::byte> blackPixel_;
    std::vector<Conv> convs_;  // the first steps, in order
    Rows pictureRows_;
    Rows builtFor_;
    bool wholeRowsOnly_ = false;
};

}  // namespace tovak::facedetect::onednn
