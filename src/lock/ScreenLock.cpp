#include "lock/ScreenLock.h"

#include <optional>
#include <utility>

namespace tovak::lock {

ScreenLock::ScreenLock(std::shared_ptr<runtime::MainQueue> main, LockChain chain,
                       std::shared_ptr<runtime::TaskQueue> worker)
    : main_(std::move(main)), chain_(std::make_shared<const LockChain>(std::move(chain))), worker_(std::move(worker)) {}

namespace {

ScreenLock::Outcome run(const LockChain& chain) {
    ScreenLock::Outcome outcome;
    for (const LockMethod& method : chain.methods) {
        LockAttempt attempt = LockAttempt::unavailable;
        try {
            attempt = method.attempt ? method.attempt() : LockAttempt::unavailable;
        } catch (...) {
            // A method that breaks is a method that did not lock; the next one is tried.
            attempt = LockAttempt::unavailable;
        }
        if (attempt == LockAttempt::locked) {
            return {true, method.name, {}};
        }
        if (attempt == LockAttempt::unconfirmed) {
            outcome.unconfirmed.push_back(method.name);
        }
    }
    return outcome;
}

void report(const LockChain& chain, const ScreenLock::Outcome& outcome,
            const monitor::ScreenLocker::Completion& completion, std::string& lastLocker) {
    lastLocker = outcome.method;
    for (const std::string& name : outcome.success ? std::vector<std::string>{} : outcome.unconfirmed) {
        lastLocker += (lastLocker.empty() ? "" : ", ") + name;
    }
    if (outcome.success) {
        completion(true, std::nullopt);
    } else if (!outcome.unconfirmed.empty() && chain.unconfirmedMessage) {
        completion(false, chain.unconfirmedMessage(outcome.unconfirmed));
    } else {
        completion(false, chain.failureMessage);
    }
}

}  // namespace

ScreenLock::Outcome ScreenLock::runChain() const {
    return run(*chain_);
}

void ScreenLock::lockNow(Completion completion) {
    // The closures hold the chain and the main queue, never the worker: a worker that held the last
    // reference to itself would have to join its own thread.
    if (!worker_) {
        main_->async([chain = chain_, last = lastLocker_, completion = std::move(completion)] {
            report(*chain, run(*chain), completion, *last);
        });
        return;
    }
    worker_->async([main = main_, chain = chain_, last = lastLocker_, completion = std::move(completion)] {
        Outcome outcome = run(*chain);
        main->async([chain, outcome, last, completion] { report(*chain, outcome, completion, *last); });
    });
}

}  // namespace tovak::lock
