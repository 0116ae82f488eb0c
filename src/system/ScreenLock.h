#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/Services.h"
#include "runtime/TaskQueue.h"

namespace tovak::system {

// One way of locking the session: true only when it locked (or, where the platform gives no more
// than that, when it reported success).
struct LockMethod {
    std::string name;
    std::function<bool()> attempt;
};

// The methods in the order they are tried, and what the user reads when none of them worked.
struct LockChain {
    std::vector<LockMethod> methods;
    std::string failureMessage;
};

// Locks the login session by trying the chain's methods in order until one succeeds.
// The chain runs on the main queue, or on the worker queue when one is given (for methods that
// wait for a confirmation); either way the completion is called exactly once, on the main queue.
class ScreenLock final : public monitor::ScreenLocker {
  public:
    ScreenLock(std::shared_ptr<runtime::MainQueue> main, LockChain chain,
               std::shared_ptr<runtime::TaskQueue> worker = nullptr);

    void lockNow(Completion completion) override;

    // Runs the chain here and now; on success, the name of the method that locked.
    struct Outcome {
        bool success = false;
        std::string method;
    };
    [[nodiscard]] Outcome runChain() const;

  private:
    std::shared_ptr<runtime::MainQueue> main_;
    std::shared_ptr<const LockChain> chain_;
    std::shared_ptr<runtime::TaskQueue> worker_;
};

}  // namespace tovak::system
