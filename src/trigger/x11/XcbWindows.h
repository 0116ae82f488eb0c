#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovak::trigger {

// An xcb reply, which the caller frees with free().
template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
XcbReply<T> adoptReply(T* reply) {
    return XcbReply<T>(reply, &std::free);
}

// One connection to an X display and the walk over its top-level windows. Blocking round trips;
// errors read as absent values.
class XcbWindows {
  public:
    enum AtomIndex {
        kNetActiveWindow,
        kNetClientList,
        kNetCloseWindow,
        kNetSupported,
        kNetSupportingWmCheck,
        kNetWmDesktop,
        kNetWmName,
        kNetWmState,
        kNetWmStateAbove,
        kNetWmStateHidden,
        kNetWmStateSkipPager,
        kNetWmStateSkipTaskbar,
        kNetWmStateSticky,
        kUtf8String,
        kWmProtocols,
        kWmDeleteWindow,
        kAtomCount
    };

    // None when the display (empty: the one in $DISPLAY) cannot be reached.
    static std::unique_ptr<XcbWindows> connect(const std::string& display);
    ~XcbWindows();
    XcbWindows(const XcbWindows&) = delete;
    XcbWindows& operator=(const XcbWindows&) = delete;

    [[nodiscard]] xcb_connection_t* connection() const { return c_; }
    [[nodiscard]] xcb_window_t root() const { return root_; }
    [[nodiscard]] xcb_atom_t atom(AtomIndex index) const { return atoms_[index]; }

    // A window manager that follows EWMH keeps a check window that names itself; a stale
    // property left by one that has exited names a window that is gone.
    [[nodiscard]] bool ewmhWindowManagerRuns() const;

    // An EWMH window manager runs and lists the hint among those it supports.
    [[nodiscard]] bool supported(AtomIndex hint) const;

    // The top-level windows whose title passes `matches`: the window manager's clients in its
    // order where it publishes them (_NET_CLIENT_LIST), else the children of the root from bottom
    // to top, looking inside the frames of a window manager that publishes no list.
    [[nodiscard]] std::vector<xcb_window_t> windowsWhere(const std::function<bool(const std::string&)>& matches) const;

    // The values of a 32-bit property (windows or atoms), empty when absent.
    [[nodiscard]] std::vector<std::uint32_t> words(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const;
    [[nodiscard]] bool hasWord(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::uint32_t value) const;

    void send(xcb_window_t destination, std::uint32_t mask, xcb_window_t window, xcb_atom_t type,
              std::array<std::uint32_t, 4> data) const;
    // A request about a client window, to the window manager.
    void askWindowManager(xcb_window_t window, AtomIndex type, std::array<std::uint32_t, 4> data) const;
    // Waits until the server has handled every request sent so far.
    void sync() const;

  private:
    XcbWindows(xcb_connection_t* connection, xcb_window_t root) : c_(connection), root_(root) {}
    bool internAtoms();
    [[nodiscard]] std::optional<std::string> text(xcb_window_t window, xcb_atom_t property) const;
    // _NET_WM_NAME, else WM_NAME.
    [[nodiscard]] std::optional<std::string> title(xcb_window_t window) const;
    [[nodiscard]] std::optional<std::uint32_t> firstWord(xcb_window_t window, xcb_atom_t property,
                                                         xcb_atom_t type) const;
    [[nodiscard]] std::vector<xcb_window_t> children(xcb_window_t window) const;

    xcb_connection_t* c_;
    xcb_window_t root_;
    std::array<xcb_atom_t, kAtomCount> atoms_{};
};

}  // namespace tovak::trigger
