#include "runtime/TaskQueue.h"

namespace tovak::runtime {

namespace {
thread_local const TaskQueue* tlsCurrentQueue = nullptr;
}

TaskQueue::CurrentScope::CurrentScope(const TaskQueue* queue) : previous_(tlsCurrentQueue) {
    tlsCurrentQueue = queue;
}

TaskQueue::CurrentScope::~CurrentScope() {
    tlsCurrentQueue = previous_;
}

const TaskQueue* TaskQueue::currentQueue() {
    return tlsCurrentQueue;
}

}  // namespace tovak::runtime
