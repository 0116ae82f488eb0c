#include "monitor/StandardizePath.h"

#include <vector>

namespace tovak::monitor {

std::string standardizePath(const std::string& path, const std::string& homeDirectory) {
    std::string expanded = path;
    if (!homeDirectory.empty() && (path == "~" || path.rfind("~/", 0) == 0)) {
        expanded = homeDirectory + path.substr(1);
    }
    if (expanded.empty()) {
        return expanded;
    }
    const bool absolute = expanded.front() == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= expanded.size()) {
        std::size_t end = expanded.find('/', start);
        if (end == std::string::npos) {
            end = expanded.size();
        }
        std::string part = expanded.substr(start, end - start);
        if (part.empty() || part == ".") {
            // nothing
        } else if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            result += '/';
        }
        result += parts[i];
    }
    return result.empty() ? "." : result;
}

}  // namespace tovak::monitor
