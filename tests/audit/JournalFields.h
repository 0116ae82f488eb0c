#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace tovak::audit {

// One record of the native protocol or of journalctl's export format: KEY=value lines (a value with
// a newline comes as KEY, a 64-bit little-endian length, the bytes).
inline std::map<std::string, std::string> parseFields(const std::string& datagram) {
    std::map<std::string, std::string> fields;
    for (std::size_t at = 0; at < datagram.size();) {
        const std::size_t end = datagram.find('\n', at);
        const std::string line = datagram.substr(at, end - at);
        if (const auto eq = line.find('='); eq != std::string::npos) {
            fields[line.substr(0, eq)] = line.substr(eq + 1);
            at = end + 1;
        } else {
            std::uint64_t size = 0;
            std::memcpy(&size, datagram.data() + end + 1, sizeof size);
            fields[line] = datagram.substr(end + 1 + sizeof size, size);
            at = end + 1 + sizeof size + size + 1;
        }
    }
    return fields;
}

}  // namespace tovak::audit
