#include "trigger/RaisingWorkspace.h"

namespace tovak::trigger {

RaisingWorkspace::RaisingWorkspace(std::shared_ptr<DocumentRaiser> raiser, std::shared_ptr<monitor::Workspace> opener,
                                   std::shared_ptr<runtime::Clock> clock)
    : raiser_(std::move(raiser)), opener_(std::move(opener)), clock_(std::move(clock)) {}

bool RaisingWorkspace::open(const std::string& path) {
    if (!raiser_) {
        return opener_ && opener_->open(path);
    }
    if (raiser_->raiseDocument(path)) {
        return true;
    }
    const double now = clock_->now();
    // Opening again before the first window shows would give a second window, a second tab or a
    // second process; the first open is still the answer.
    if (path == lastOpenedPath_ && now - lastOpenedAt_ < openerPatienceSeconds) {
        return true;
    }
    if (!opener_ || !opener_->open(path)) {
        return false;
    }
    lastOpenedPath_ = path;
    lastOpenedAt_ = now;
    return true;
}

}  // namespace tovak::trigger
