#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct wl_callback;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace tovak::trigger {

// One connection to a wlroots compositor's foreign-toplevel manager: the windows a taskbar sees,
// native Wayland and XWayland alike. A thread of its own reads every message as it comes, since
// windows retitle themselves all day and a compositor disconnects a client that lets its messages
// pile up. Everything that touches the connection runs on that thread; a caller hands it a job and
// waits for the answer.
class ToplevelConnection {
  public:
    enum class Action { count, activate, close };

    // None when nobody answers at display (empty: $WAYLAND_DISPLAY), the compositor does not offer
    // the protocol, or it has not told its windows within 3 s.
    static std::unique_ptr<ToplevelConnection> open(const std::string& display);
    // The same over a socket already connected, which it takes over: a compositor of one's own
    // making, such as a fuzzer's byte buffer behind a socket pair.
    static std::unique_ptr<ToplevelConnection> adopt(int fd);
    ~ToplevelConnection();
    ToplevelConnection(const ToplevelConnection&) = delete;
    ToplevelConnection& operator=(const ToplevelConnection&) = delete;

    // False once the compositor has closed or broken the connection; it never comes back.
    [[nodiscard]] bool alive() const;
    // Whether the compositor offers a seat to activate windows for.
    [[nodiscard]] bool hasSeat() const { return hasSeat_; }

    // Once the compositor has told everything it said before: the windows whose title contains
    // titlePart (none for an empty text) counted, activated for the seat (oldest first, so that the
    // newest ends focused) or asked to close as their close button would; then a second round trip,
    // so that a compositor that broke the connection over the request is seen. How many windows;
    // none when the connection is gone or the compositor has not answered within 3 s.
    std::optional<int> act(Action action, const std::string& titlePart);

  private:
    friend struct ToplevelListeners;
    struct Toplevel {
        ToplevelConnection* owner = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        std::string title;
    };
    struct Sync {
        ToplevelConnection* owner = nullptr;
        wl_callback* callback = nullptr;
        std::function<void()> then;
    };
    struct Reply {
        bool ready = false;
        std::optional<int> count;
    };

    explicit ToplevelConnection(wl_display* display);
    static std::unique_ptr<ToplevelConnection> start(wl_display* display);
    // Hands job to the thread and waits until reply is ready or the connection gone, 3 s at most.
    std::optional<int> ask(std::function<void()> job, const std::shared_ptr<Reply>& reply);
    void answer(const std::shared_ptr<Reply>& reply, std::optional<int> count);
    void wake() const;

    // The connection's thread.
    void run();
    void greet(const std::shared_ptr<Reply>& reply);
    void perform(Action action, const std::string& titlePart, const std::shared_ptr<Reply>& reply);
    void afterSync(std::function<void()> then);
    void die();

    wl_display* display_;
    int wake_;
    std::thread thread_;
    bool hasSeat_ = false;

    // The connection's thread only (and the destructor, once it has ended).
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    // Lists, so that the address each listener holds stays put.
    std::list<Toplevel> toplevels_;
    std::list<Sync> syncs_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::function<void()>> jobs_;
    bool dead_ = false;
    bool stopping_ = false;
};

}  // namespace tovak::trigger
