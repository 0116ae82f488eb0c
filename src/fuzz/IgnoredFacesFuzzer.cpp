// The settings' text of the faces marked as scenery: what parses must be saved as text that parses
// to the same number of regions.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "monitor/IgnoredFaces.h"

namespace ignored_faces = tovak::monitor::ignored_faces;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto regions = ignored_faces::parse(text);
    if (!regions) {
        return 0;
    }
    const std::string saved = ignored_faces::format(*regions);
    const auto again = ignored_faces::parse(saved);
    TOVAK_FUZZ_CHECK(again.has_value());
    TOVAK_FUZZ_CHECK(again->size() == regions->size());
    TOVAK_FUZZ_CHECK(ignored_faces::format(*again) == saved);
    return 0;
}
