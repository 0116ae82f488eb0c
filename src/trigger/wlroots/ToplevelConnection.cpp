#include "trigger/wlroots/ToplevelConnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tovak::trigger {

namespace {

// The newest version this client knows; older compositors offer less and are asked for that.
constexpr std::uint32_t kManagerVersion = 3;
// A compositor that has not answered a round trip in this long is not answering.
constexpr auto kPatience = std::chrono::seconds(3);

}  // namespace

// The protocol's listeners: what the compositor says, turned into the list of windows.
struct ToplevelListeners {
    using Toplevel = ToplevelConnection::Toplevel;

    static void title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Toplevel*>(data)->title = title != nullptr ? title : "";
    }
    static void appId(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
    static void output(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void state(void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {}
    static void done(void*, zwlr_foreign_toplevel_handle_v1*) {}
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* toplevel = static_cast<Toplevel*>(data);
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        toplevel->owner->toplevels_.remove_if([toplevel](const Toplevel& t) { return &t == toplevel; });
    }
    static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
    static constexpr zwlr_foreign_toplevel_handle_v1_listener toplevelEvents = {
        title, appId, output, output, state, done, closed, parent,
    };

    static void adopt(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* owner = static_cast<ToplevelConnection*>(data);
        Toplevel& added = owner->toplevels_.emplace_back();
        added.owner = owner;
        added.handle = handle;
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelEvents, &added);
    }
    static void finished(void*, zwlr_foreign_toplevel_manager_v1*) {}
    static constexpr zwlr_foreign_toplevel_manager_v1_listener managerEvents = {adopt, finished};

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto* owner = static_cast<ToplevelConnection*>(data);
        if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 &&
            owner->manager_ == nullptr) {
            owner->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, kManagerVersion)));
            // Listening before the next dispatch, so no window announced meanwhile is missed.
            zwlr_foreign_toplevel_manager_v1_add_listener(owner->manager_, &managerEvents, owner);
        } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && owner->seat_ == nullptr) {
            owner->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        }
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener registryEvents = {global, globalRemove};

    static void synced(void* data, wl_callback* callback, std::uint32_t) {
        auto* sync = static_cast<ToplevelConnection::Sync*>(data);
        std::function<void()> then = std::move(sync->then);
        wl_callback_destroy(callback);
        sync->owner->syncs_.remove_if([sync](const ToplevelConnection::Sync& s) { return &s == sync; });
        then();
    }
    static constexpr wl_callback_listener syncEvents = {synced};
};

std::unique_ptr<ToplevelConnection> ToplevelConnection::open(const std::string& display) {
    wl_display* connected = wl_display_connect(display.empty() ? nullptr : display.c_str());
    return connected != nullptr ? start(connected) : nullptr;
}

std::unique_ptr<ToplevelConnection> ToplevelConnection::adopt(int fd) {
    wl_display* connected = wl_display_connect_to_fd(fd);
    if (connected == nullptr) {
        ::close(fd);
        return nullptr;
    }
    return start(connected);
}

ToplevelConnection::ToplevelConnection(wl_display* display)
    : display_(display), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

std::unique_ptr<ToplevelConnection> ToplevelConnection::start(wl_display* display) {
    std::unique_ptr<ToplevelConnection> connection(new ToplevelConnection(display));
    if (connection->wake_ < 0) {
        return nullptr;
    }
    connection->thread_ = std::thread(&ToplevelConnection::run, connection.get());
    auto reply = std::make_shared<Reply>();
    ToplevelConnection* self = connection.get();
    if (!connection->ask([self, reply] { self->greet(reply); }, reply)) {
        return nullptr;
    }
    return connection;
}

ToplevelConnection::~ToplevelConnection() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    for (const Sync& sync : syncs_) {
        wl_callback_destroy(sync.callback);
    }
    for (const Toplevel& toplevel : toplevels_) {
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    }
    if (manager_ != nullptr) {
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    wl_display_disconnect(display_);
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

bool ToplevelConnection::alive() const {
    std::lock_guard lock(mutex_);
    return !dead_;
}

std::optional<int> ToplevelConnection::act(Action action, const std::string& titlePart) {
    auto reply = std::make_shared<Reply>();
    return ask([this, action, titlePart, reply] { perform(action, titlePart, reply); }, reply);
}

std::optional<int> ToplevelConnection::ask(std::function<void()> job, const std::shared_ptr<Reply>& reply) {
    std::unique_lock lock(mutex_);
    if (dead_) {
        return std::nullopt;
    }
    jobs_.push_back(std::move(job));
    wake();
    changed_.wait_for(lock, kPatience, [&] { return reply->ready || dead_; });
    return reply->ready ? reply->count : std::nullopt;
}

void ToplevelConnection::answer(const std::shared_ptr<Reply>& reply, std::optional<int> count) {
    {
        std::lock_guard lock(mutex_);
        reply->ready = true;
        reply->count = count;
    }
    changed_.notify_all();
}

void ToplevelConnection::wake() const {
    const std::uint64_t one = 1;
    // Never blocks: a counter that cannot take one more is already waking the thread.
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof(one));
}

void ToplevelConnection::run() {
    const int fd = wl_display_get_fd(display_);
    for (;;) {
        std::vector<std::function<void()>> jobs;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || dead_) {
                return;
            }
            jobs.swap(jobs_);
        }
        for (const std::function<void()>& job : jobs) {
            job();
        }
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                return die();
            }
        }
        // A full socket takes the rest once the compositor has read some.
        const bool unsent = wl_display_flush(display_) < 0 && errno == EAGAIN;
        pollfd fds[] = {{fd, static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0}, {wake_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            if (wl_display_read_events(display_) < 0) {
                return die();
            }
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_pending(display_) < 0) {
            return die();
        }
        std::uint64_t woken = 0;
        [[maybe_unused]] const ssize_t read = ::read(wake_, &woken, sizeof(woken));
    }
}

void ToplevelConnection::greet(const std::shared_ptr<Reply>& reply) {
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &ToplevelListeners::registryEvents, this);
    // The first round trip names the globals; the second brings the windows already open.
    afterSync([this, reply] {
        if (manager_ == nullptr) {
            return die();
        }
        hasSeat_ = seat_ != nullptr;
        afterSync([this, reply] { answer(reply, 0); });
    });
}

void ToplevelConnection::perform(Action action, const std::string& titlePart, const std::shared_ptr<Reply>& reply) {
    afterSync([this, action, titlePart, reply] {
        int found = 0;
        for (const Toplevel& toplevel : toplevels_) {
            if (titlePart.empty() || toplevel.title.find(titlePart) == std::string::npos) {
                continue;
            }
            ++found;
            if (action == Action::activate && seat_ != nullptr) {
                zwlr_foreign_toplevel_handle_v1_activate(toplevel.handle, seat_);
            } else if (action == Action::close) {
                zwlr_foreign_toplevel_handle_v1_close(toplevel.handle);
            }
        }
        if (action == Action::count || found == 0) {
            return answer(reply, found);
        }
        afterSync([this, reply, found] { answer(reply, found); });
    });
}

void ToplevelConnection::afterSync(std::function<void()> then) {
    Sync& sync = syncs_.emplace_back();
    sync.owner = this;
    sync.then = std::move(then);
    sync.callback = wl_display_sync(display_);
    if (sync.callback == nullptr) {
        syncs_.pop_back();
        return die();
    }
    wl_callback_add_listener(sync.callback, &ToplevelListeners::syncEvents, &sync);
}

void ToplevelConnection::die() {
    {
        std::lock_guard lock(mutex_);
        dead_ = true;
    }
    changed_.notify_all();
}

}  // namespace tovak::trigger
