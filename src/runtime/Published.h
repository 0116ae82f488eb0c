#pragma once

#include <cassert>
#include <cstddef>
#include <functional>
#include <map>
#include <utility>

#include "runtime/TaskQueue.h"

namespace tovak::runtime {

// A value the user interface observes. Observers are told before each change, with the value that
// is about to be stored, and every change is made on the owning (main) queue.
template <typename T>
class Published {
  public:
    using Observer = std::function<void(const T& next)>;
    using Token = std::size_t;

    Published(T initial, const TaskQueue& owner) : value_(std::move(initial)), owner_(&owner) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    [[nodiscard]] const T& get() const { return value_; }

    void set(T next) {
        assert(owner_->isCurrent() && "published values change on the main queue only");
        for (auto& entry : observers_) {
            entry.second(next);
        }
        value_ = std::move(next);
    }

    Token observe(Observer observer) {
        assert(owner_->isCurrent());
        observers_.emplace(nextToken_, std::move(observer));
        return nextToken_++;
    }

    void removeObserver(Token token) { observers_.erase(token); }

  private:
    T value_;
    const TaskQueue* owner_;
    std::map<Token, Observer> observers_;
    Token nextToken_ = 1;
};

}  // namespace tovak::runtime
