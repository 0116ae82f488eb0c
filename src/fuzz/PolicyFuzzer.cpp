// The administrator's tovak.conf as read from a configuration folder: whatever it says, a value
// that comes out is one in range, and anything left out is said on the status line.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "system/Policy.h"

using tovak::system::Policy;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        char name[] = "/tmp/tovak-fuzz-policy.XXXXXX";
        TOVAK_FUZZ_CHECK(::mkdtemp(name) != nullptr);
        TOVAK_FUZZ_CHECK(::mkdir((std::string(name) + "/tovak").c_str(), 0700) == 0);
        return std::string(name);
    }();
    std::FILE* file = std::fopen((folder + "/tovak/tovak.conf").c_str(), "wb");
    TOVAK_FUZZ_CHECK(file != nullptr);
    TOVAK_FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    TOVAK_FUZZ_CHECK(std::fclose(file) == 0);

    const Policy policy = Policy::read(folder);
    for (const char* key : {Policy::startAtLoginKey, Policy::startWatchingKey, Policy::markedFacesKey}) {
        const auto value = policy.value(key);
        TOVAK_FUZZ_CHECK(!value || *value == "true" || *value == "false");
    }
    const auto pause = policy.longestPauseSeconds();
    TOVAK_FUZZ_CHECK(!pause || *pause <= 86400);
    TOVAK_FUZZ_CHECK(policy.problems().empty() == policy.statusLine().empty());
    return 0;
}
