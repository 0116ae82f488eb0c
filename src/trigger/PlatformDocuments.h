#pragma once

#include <memory>

#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"
#include "trigger/RaisingWorkspace.h"
#include "trigger/WindowControl.h"

namespace tovak::trigger {

// This platform's way of bringing the trigger document forward and of closing it.
struct PlatformDocuments {
    std::shared_ptr<monitor::Workspace> workspace;
    std::shared_ptr<monitor::DocumentCloser> closer;
};

// windows: the session's window control; opener: the desktop's way of opening a file (main
// thread); worker: where the window control is asked; notice: what the user should know, on main.
[[nodiscard]] PlatformDocuments makePlatformDocuments(std::shared_ptr<WindowControl> windows,
                                                      std::shared_ptr<monitor::Workspace> opener,
                                                      std::shared_ptr<runtime::TaskQueue> worker,
                                                      std::shared_ptr<runtime::TaskQueue> main,
                                                      RaisingWorkspace::Notice notice);

}  // namespace tovak::trigger
