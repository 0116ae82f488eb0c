#include "app/DisplayCheck.h"

namespace tovak::app {

// A macOS login session always has its window server.
std::optional<std::string> missingDisplayMessage(const std::string&) {
    return std::nullopt;
}

}  // namespace tovak::app
