#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"

namespace tovak::lock {

// What one way of locking found: nothing to ask, a locker that was asked and never confirmed the
// lock, or the lock in place.
enum class LockAttempt { unavailable, unconfirmed, locked };

// One way of locking the session. A method that can only say yes or no (where the platform gives
// no more than a reported success) is locked on yes and unavailable on no.
struct LockMethod {
    LockMethod(std::string methodName, std::function<LockAttempt()> tryLock)
        : name(std::move(methodName)), attempt(std::move(tryLock)) {}
    LockMethod(std::string methodName, std::function<bool()> tryLock)
        : name(std::move(methodName)), attempt([tryLock = std::move(tryLock)] {
              return tryLock && tryLock() ? LockAttempt::locked : LockAttempt::unavailable;
          }) {}

    std::string name;
    std::function<LockAttempt()> attempt;
};

// The methods in the order they are tried, and what the user reads when none of them worked:
// failureMessage when nothing was there to ask; when lockers were asked and none confirmed,
// unconfirmedMessage of their names (where the chain has one).
struct LockChain {
    std::vector<LockMethod> methods;
    std::string failureMessage;
    std::function<std::string(const std::vector<std::string>& unconfirmed)> unconfirmedMessage = {};
};

// Locks the login session by trying the chain's methods in order until one succeeds.
// The chain runs on the main queue, or on the worker queue when one is given (for methods that
// wait for a confirmation); either way the completion is called exactly once, on the main queue.
class ScreenLock final : public monitor::ScreenLocker {
  public:
    ScreenLock(std::shared_ptr<runtime::MainQueue> main, LockChain chain,
               std::shared_ptr<runtime::TaskQueue> worker = nullptr);

    void lockNow(Completion completion) override;
    [[nodiscard]] std::string lastLocker() const override { return *lastLocker_; }

    // Runs the chain here and now; on success, the name of the method that locked, otherwise the
    // names of the methods that were asked and never confirmed.
    struct Outcome {
        bool success = false;
        std::string method;
        std::vector<std::string> unconfirmed;
    };
    [[nodiscard]] Outcome runChain() const;

  private:
    std::shared_ptr<runtime::MainQueue> main_;
    std::shared_ptr<const LockChain> chain_;
    std::shared_ptr<runtime::TaskQueue> worker_;
    // Written and read on the main queue only.
    std::shared_ptr<std::string> lastLocker_ = std::make_shared<std::string>();
};

}  // namespace tovak::lock
