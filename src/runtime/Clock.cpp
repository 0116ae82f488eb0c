#include "runtime/Clock.h"

#include <chrono>

namespace tovak::runtime {

double SystemClock::now() const {
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch).count() + kOffsetSeconds;
}

double SystemWallClock::now() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace tovak::runtime
