#include "system/ScreenLock.h"

#include <optional>
#include <utility>

namespace tovak::system {

ScreenLock::ScreenLock(std::shared_ptr<runtime::MainQueue> main, LockChain chain,
                       std::shared_ptr<runtime::TaskQueue> worker)
    : main_(std::move(main)), chain_(std::make_shared<const LockChain>(std::move(chain))), worker_(std::move(worker)) {}

ScreenLock::Outcome ScreenLock::runChain() const {
    for (const LockMethod& method : chain_->methods) {
        bool locked = false;
        try {
            locked = method.attempt && method.attempt();
        } catch (...) {
            // A method that breaks is a method that did not lock; the next one is tried.
            locked = false;
        }
        if (locked) {
            return {true, method.name};
        }
    }
    return {false, {}};
}

void ScreenLock::report(const Outcome& outcome, const Completion& completion) const {
    if (outcome.success) {
        completion(true, std::nullopt);
    } else {
        completion(false, chain_->failureMessage);
    }
}

void ScreenLock::lockNow(Completion completion) {
    if (!worker_) {
        main_->async([self = *this, completion = std::move(completion)] { self.report(self.runChain(), completion); });
        return;
    }
    worker_->async([self = *this, completion = std::move(completion)] {
        Outcome outcome = self.runChain();
        self.main_->async([self, outcome, completion] { self.report(outcome, completion); });
    });
}

}  // namespace tovak::system
