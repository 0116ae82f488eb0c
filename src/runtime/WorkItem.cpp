#include "runtime/WorkItem.h"

#include <utility>

namespace tovak::runtime {

WorkItem::WorkItem(std::function<void()> body) : body_(std::move(body)) {}

void WorkItem::perform() {
    if (isCancelled() || !body_) {
        return;
    }
    body_();
}

}  // namespace tovak::runtime
