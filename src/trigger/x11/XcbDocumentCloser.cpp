#include "trigger/x11/XcbDocumentCloser.h"

#include "trigger/x11/XcbWindows.h"

namespace tovak::trigger {

namespace {

// The second field of _NET_CLOSE_WINDOW: the request comes from a tool acting for the user.
constexpr std::uint32_t kSourceIsTool = 2;

}  // namespace

void XcbDocumentCloser::closeDocument(const std::string& standardizedPath) {
    closeWindowsTitled(fileNameOf(standardizedPath));
}

XcbDocumentCloser::Report XcbDocumentCloser::closeWindowsTitled(const std::string& fileName) const {
    Report report;
    if (fileName.empty()) {
        return report;
    }
    std::unique_ptr<XcbWindows> x = XcbWindows::connect(display_);
    if (!x) {
        return report;
    }
    report.reachedDisplay = true;
    report.throughWindowManager = x->ewmhWindowManagerRuns();

    // A window that does not take WM_DELETE_WINDOW could only be destroyed (a window manager
    // answers _NET_CLOSE_WINDOW for it by killing its client), losing its application's work: it
    // is left alone.
    for (const xcb_window_t window : x->windowsTitled(fileName, report.throughWindowManager)) {
        if (!x->hasWord(window, x->atom(XcbWindows::kWmProtocols), XCB_ATOM_ATOM,
                        x->atom(XcbWindows::kWmDeleteWindow))) {
            continue;
        }
        if (report.throughWindowManager) {
            x->send(x->root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, window,
                    x->atom(XcbWindows::kNetCloseWindow), {XCB_CURRENT_TIME, kSourceIsTool});
        } else {
            x->send(window, XCB_EVENT_MASK_NO_EVENT, window, x->atom(XcbWindows::kWmProtocols),
                    {x->atom(XcbWindows::kWmDeleteWindow), XCB_CURRENT_TIME});
        }
        ++report.windowsAsked;
    }
    x->sync();
    return report;
}

}  // namespace tovak::trigger
