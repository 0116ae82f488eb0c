// The journal's text as read from disk: every entry it loads must write back as a line that loads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "journal/JournalLine.h"
#include "journal/JournalStore.h"

using tovak::journal::Incident;
using tovak::journal::JournalLine;
using tovak::journal::JournalStore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string kept;
    const JournalStore::Loaded loaded = JournalStore::readLines(text, 0.0, &kept);
    TOVAK_FUZZ_CHECK(kept.size() <= size + 1);
    for (const Incident& incident : loaded.incidents) {
        const std::string line = JournalLine::encode(incident);
        const auto again = JournalLine::decode(line);
        TOVAK_FUZZ_CHECK(again.has_value());
        TOVAK_FUZZ_CHECK(JournalLine::encode(*again) == line);
    }
    return 0;
}
