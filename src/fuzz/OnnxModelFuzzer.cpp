// A model file as the detector opens it, from a path: the bytes go into a memory file named
// through /proc.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "facedetect/OnnxModel.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("onnx-model", MFD_CLOEXEC);
    TOVAK_FUZZ_CHECK(fd >= 0);
    TOVAK_FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    TOVAK_FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    std::string error;
    const auto model = tovak::facedetect::readOnnxModel("/proc/self/fd/" + std::to_string(fd), error);
    TOVAK_FUZZ_CHECK(model.has_value() == error.empty());
    return 0;
}
