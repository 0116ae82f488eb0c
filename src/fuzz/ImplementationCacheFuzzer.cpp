// A cached choice of implementations: its first line taken as the key it is read under, so the
// names behind a matching key get read too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "facedetect/onednn/ImplementationCache.h"
#include "fuzz/FuzzCheck.h"

namespace cache = tovak::facedetect::onednn::implementation_cache;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = text.find('\n');
    const std::string key(text.substr(0, newline == std::string_view::npos ? 0 : newline + 1));
    for (const std::string& name : cache::parse(text, key)) {
        TOVAK_FUZZ_CHECK(!name.empty() && name.find('\n') == std::string::npos);
    }
    return 0;
}
