#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

#include "facedetect/OnnxModel.h"
#include "facedetect/onednn/Graph.h"

namespace tovak::facedetect::onednn {

// Why a model cannot be built: thrown inside the import only, and returned from it as text.
struct ImportRefusal {
    std::string message;
};

// What the translation of one node reads and writes: the model's constants, the graph so far and
// its values by name. Every check refuses with a message that names the node.
class ImportContext {
  public:
    ImportContext(const OnnxModel& model, Graph& graph) : model_(model), graph_(graph) {}

    [[nodiscard]] Graph& graph() { return graph_; }

    [[noreturn]] static void refuse(const OnnxNode& n, const std::string& what);
    static const OnnxAttribute* attribute(const OnnxNode& n, const char* name);
    static void allowAttributes(const OnnxNode& n, std::initializer_list<const char*> allowed);
    // The attribute's integers, which must be as many as the fallback's.
    static Dims ints(const OnnxNode& n, const char* name, Dims fallback);

    // The computed tensor at the node's input index.
    int activation(const OnnxNode& n, std::size_t index);
    // The same, which must also be an NCHW image tensor.
    int imageInput(const OnnxNode& n, std::size_t index);
    const OnnxTensor& initializer(const OnnxNode& n, std::size_t index, int dataType) const;

    void define(const std::string& name, Value value);
    // A new name for source's data, written by no op. It counts as a reader of its source where the
    // next op runs, so that nothing is fused over a value that is read through another name.
    void defineAlias(const std::string& name, int source, Value value);
    // Adds the op with its output, a new buffer group of its own; returns the op's index.
    int addOp(Op op, Value out, const std::string& name);

  private:
    const OnnxModel& model_;
    Graph& graph_;
};

}  // namespace tovak::facedetect::onednn
