#include "trigger/linux/XcbDocumentRaiser.h"

#include "trigger/linux/XcbWindows.h"

namespace tovak::trigger {

namespace {

// The first field of _NET_ACTIVE_WINDOW: the request comes from a pager acting for the user.
constexpr std::uint32_t kSourceIsPager = 2;

}  // namespace

bool XcbDocumentRaiser::raiseDocument(const std::string& path) {
    return raiseWindowTitled(fileNameOf(path));
}

bool XcbDocumentRaiser::raiseWindowTitled(const std::string& fileName) const {
    if (fileName.empty()) {
        return false;
    }
    std::unique_ptr<XcbWindows> x = XcbWindows::connect(display_);
    if (!x) {
        return false;
    }
    const bool throughWindowManager = x->ewmhWindowManagerRuns();
    const std::vector<XcbWindows::Titled> found = x->windowsTitled(fileName, throughWindowManager);
    if (found.empty()) {
        return false;
    }
    const XcbWindows::Titled target = found.back();
    xcb_connection_t* c = x->connection();
    if (throughWindowManager) {
        // A minimised window asks to be mapped as its application would (ICCCM), for the window
        // managers that do not restore a window on activation alone.
        if (x->hasWord(target.client, x->atom(XcbWindows::kNetWmState), XCB_ATOM_ATOM,
                       x->atom(XcbWindows::kNetWmStateHidden))) {
            xcb_map_window(c, target.client);
        }
        x->send(x->root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, target.client,
                x->atom(XcbWindows::kNetActiveWindow), {kSourceIsPager, XCB_CURRENT_TIME});
    } else {
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_map_window(c, target.topLevel);
        xcb_configure_window(c, target.topLevel, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, target.client, XCB_CURRENT_TIME);
    }
    x->sync();
    return true;
}

}  // namespace tovak::trigger
