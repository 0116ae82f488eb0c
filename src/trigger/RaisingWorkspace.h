#pragma once

#include <functional>
#include <memory>
#include <string>

#include "monitor/ports/Services.h"
#include "runtime/TaskQueue.h"
#include "trigger/WindowControl.h"

namespace tovak::trigger {

// Brings the trigger document forward without ever opening a second copy, and closes it when the
// onlooker has gone: a window that shows it is raised; the desktop's opener is asked only when no
// window of it can be seen, and where windows cannot be seen at all, once per onlooker episode.
// The monitor asks to close the document exactly when an episode ends, which is how the episode's
// end is known here.
//
// open and closeDocument return at once; the window control is asked on the worker queue (a
// desktop's D-Bus service can take a few hundred milliseconds), the opener on the main queue, whose
// answer may come later (its openThen).
// What the user should know (the opener refused, this desktop cannot raise or close windows) is
// told through the notice, on the main queue, each "cannot" once per run.
class RaisingWorkspace final : public monitor::Workspace,
                               public monitor::DocumentCloser,
                               public std::enable_shared_from_this<RaisingWorkspace> {
  public:
    using Notice = std::function<void(const std::string& text)>;

    static constexpr const char* notOpenedText = "Файл не открылся";
    static constexpr const char* cannotRaiseText = "Файл не выводится вперёд на этом рабочем столе";
    static constexpr const char* cannotCloseText = "Файл не закрывается на этом рабочем столе";

    static std::shared_ptr<RaisingWorkspace> create(std::shared_ptr<WindowControl> windows,
                                                    std::shared_ptr<monitor::Workspace> opener,
                                                    std::shared_ptr<runtime::TaskQueue> worker,
                                                    std::shared_ptr<runtime::TaskQueue> main, Notice notice);

    // Always true: whether the document came forward is known later, and told through the notice.
    bool open(const std::string& path) override;
    void closeDocument(const std::string& standardizedPath) override;

  private:
    RaisingWorkspace(std::shared_ptr<WindowControl> windows, std::shared_ptr<monitor::Workspace> opener,
                     std::shared_ptr<runtime::TaskQueue> worker, std::shared_ptr<runtime::TaskQueue> main,
                     Notice notice);
    // Worker queue.
    void bringForward(const std::string& path);
    void endEpisode(const std::string& path);
    void tell(const char* text, bool& toldAlready);
    // Main queue: the opener did not hand the document to an application.
    void notOpened(const std::string& path);

    std::shared_ptr<WindowControl> windows_;
    std::shared_ptr<monitor::Workspace> opener_;
    std::shared_ptr<runtime::TaskQueue> worker_;
    std::shared_ptr<runtime::TaskQueue> main_;
    Notice notice_;
    // Worker queue only. The document handed to the opener in this episode, and whether a window
    // of it has been seen since: until one has, the application is still on its way.
    std::string openedPath_;
    bool seenSinceOpened_ = false;
    bool toldCannotRaise_ = false;
    bool toldCannotClose_ = false;
};

}  // namespace tovak::trigger
