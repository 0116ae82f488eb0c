#include "trigger/x11/XcbDocumentRaiser.h"

#include "trigger/x11/XcbWindows.h"

namespace tovak::trigger {

namespace {

// The first field of _NET_ACTIVE_WINDOW: the request comes from a pager acting for the user.
constexpr std::uint32_t kSourceIsPager = 2;

}  // namespace

bool XcbDocumentRaiser::raiseDocument(const std::string& path) {
    return raiseWindowTitled(fileNameOf(path));
}

bool XcbDocumentRaiser::raiseWindowTitled(const std::string& fileName) const {
    std::unique_ptr<XcbWindows> x = XcbWindows::connect(display_);
    // Activation is the window manager's to grant; without an EWMH one the opener is asked instead.
    if (!x || !x->ewmhWindowManagerRuns()) {
        return false;
    }
    const std::vector<xcb_window_t> found = x->windowsTitled(fileName, true);
    if (found.empty()) {
        return false;
    }
    const xcb_window_t window = found.back();
    // A minimised window asks to be mapped as its application would (ICCCM), for the window
    // managers that do not restore a window on activation alone.
    if (x->hasWord(window, x->atom(XcbWindows::kNetWmState), XCB_ATOM_ATOM, x->atom(XcbWindows::kNetWmStateHidden))) {
        xcb_map_window(x->connection(), window);
    }
    x->send(x->root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, window,
            x->atom(XcbWindows::kNetActiveWindow), {kSourceIsPager, XCB_CURRENT_TIME});
    x->sync();
    return true;
}

}  // namespace tovak::trigger
