#include "camera/OpenerBudget.h"

#include <algorithm>

namespace tovak::camera {

double OpenerBudget::left(const std::string& program, double now) const {
    const auto found = charged_.find(program);
    double used = 0;
    if (found != charged_.end()) {
        for (const auto& [start, end] : found->second) {
            used += std::max(0.0, std::min(end, now) - std::max(start, now - window_));
        }
    }
    return std::max(0.0, pause_ - used);
}

void OpenerBudget::charge(const std::string& program, double start, double end) {
    // What lies a whole window back counts no more, for any program.
    for (auto entry = charged_.begin(); entry != charged_.end();) {
        std::erase_if(entry->second, [&](const auto& pause) { return pause.second < start - window_; });
        entry = entry->second.empty() ? charged_.erase(entry) : std::next(entry);
    }
    if (end > start) {
        charged_[program].emplace_back(start, end);
    }
}

}  // namespace tovak::camera
