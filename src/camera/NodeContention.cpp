#include "camera/NodeContention.h"

#include <iostream>
#include <utility>

namespace tovak::camera {

namespace {

monitor::CameraContention::Event eventFor(NodeEvent::Kind kind) {
    switch (kind) {
        case NodeEvent::Kind::otherOpened:
            return monitor::CameraContention::Event::otherWants;
        case NodeEvent::Kind::cameraFree:
            return monitor::CameraContention::Event::free;
        case NodeEvent::Kind::ignored:
            return monitor::CameraContention::Event::ignored;
        case NodeEvent::Kind::lost:
            break;
    }
    return monitor::CameraContention::Event::lost;
}

}  // namespace

NodeContention::NodeContention(std::optional<std::string> node, Delivery delivery, CameraNodeWatcher::Options options)
    : node_(std::move(node)), delivery_(delivery), options_(std::move(options)) {}

NodeContention::~NodeContention() {
    stopWatching();
}

bool NodeContention::watch(const monitor::CameraDevice& device, OnEvent onEvent) {
    stopWatching();
    onEvent_ = std::move(onEvent);
    const std::string path = node_ ? *node_ : device.id;
    std::string error;
    watcher_ = CameraNodeWatcher::start(
        path,
        [this](const NodeEvent& event) {
            if (event.kind == NodeEvent::Kind::lost) {
                std::cerr << "tovak: camera " << (node_ ? *node_ : "node") << ": " << event.reason << "\n";
            }
            if (delivery_ == Delivery::immediate) {
                onEvent_(eventFor(event.kind), event.program);
                return;
            }
            std::lock_guard lock(mutex_);
            pending_.emplace_back(eventFor(event.kind), event.program);
        },
        options_, error);
    if (!watcher_) {
        std::cerr << "tovak: " << path << " cannot be watched for other programs: " << error << "\n";
        return false;
    }
    return true;
}

void NodeContention::stopWatching() {
    watcher_.reset();
    std::lock_guard lock(mutex_);
    pending_.clear();
}

void NodeContention::holdOff() {
    if (watcher_) {
        watcher_->holdOff();
    }
}

void NodeContention::deliverPending() {
    std::vector<std::pair<Event, std::string>> events;
    {
        std::lock_guard lock(mutex_);
        events.swap(pending_);
    }
    for (const auto& [event, program] : events) {
        if (onEvent_) {
            onEvent_(event, program);
        }
    }
}

}  // namespace tovak::camera
