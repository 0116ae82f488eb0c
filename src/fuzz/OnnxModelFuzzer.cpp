// A model file as the detector opens it, from a path: the bytes go into a memory file named
// through /proc. A tensor read must hold exactly the numbers its shape promises, since the
// network is built trusting the shape.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "facedetect/OnnxModel.h"
#include "fuzz/FuzzCheck.h"

namespace {

void checkTensor(const tovak::facedetect::OnnxTensor& tensor) {
    std::size_t count = 1;
    for (const std::int64_t d : tensor.dims) {
        TOVAK_FUZZ_CHECK(d >= 0);
        const auto size = static_cast<std::size_t>(d);
        TOVAK_FUZZ_CHECK(size == 0 || count <= std::numeric_limits<std::size_t>::max() / size);
        count *= size;
    }
    TOVAK_FUZZ_CHECK(tensor.dataType != 1 || tensor.floats.size() == count);
    TOVAK_FUZZ_CHECK(tensor.dataType != 7 || tensor.ints.size() == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("onnx-model", MFD_CLOEXEC);
    TOVAK_FUZZ_CHECK(fd >= 0);
    TOVAK_FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    TOVAK_FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    std::string error;
    const auto model = tovak::facedetect::readOnnxModel("/proc/self/fd/" + std::to_string(fd), error);
    TOVAK_FUZZ_CHECK(model.has_value() == error.empty());
    if (model) {
        for (const auto& [name, tensor] : model->initializers) {
            checkTensor(tensor);
        }
        for (const auto& node : model->nodes) {
            for (const auto& attribute : node.attributes) {
                if (attribute.tensor) {
                    checkTensor(*attribute.tensor);
                }
            }
        }
    }
    return 0;
}
