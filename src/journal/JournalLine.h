#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "journal/Incident.h"

namespace tovak::journal {

// One incident as one line of JSON, the format of the kept journal and of --journal:
//   {"kind": "visit", "start": 1796637612.400, "end": 1796637620.133, "seconds": 7.733, "closeup": true,
//    "lock": "locked"}
// Times are calendar seconds with milliseconds; the fields are listed in the README.
class JournalLine {
  public:
    // The line without its newline; the in-memory picture and id are left out.
    [[nodiscard]] static std::string encode(const Incident& incident);
    // None for a line that is not a whole, sensible entry (truncated, damaged, of an unknown kind).
    // Fields this version does not know are passed over.
    [[nodiscard]] static std::optional<Incident> decode(std::string_view line);
};

}  // namespace tovak::journal
