#include "trigger/RaisingWorkspace.h"

namespace tovak::trigger {

namespace {

// The last part of a path: the name a document window shows in its title.
std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::shared_ptr<RaisingWorkspace> RaisingWorkspace::create(std::shared_ptr<WindowControl> windows,
                                                           std::shared_ptr<monitor::Workspace> opener,
                                                           std::shared_ptr<runtime::TaskQueue> worker,
                                                           std::shared_ptr<runtime::TaskQueue> main, Notice notice) {
    return std::shared_ptr<RaisingWorkspace>(new RaisingWorkspace(
        std::move(windows), std::move(opener), std::move(worker), std::move(main), std::move(notice)));
}

RaisingWorkspace::RaisingWorkspace(std::shared_ptr<WindowControl> windows, std::shared_ptr<monitor::Workspace> opener,
                                   std::shared_ptr<runtime::TaskQueue> worker, std::shared_ptr<runtime::TaskQueue> main,
                                   Notice notice)
    : windows_(std::move(windows)),
      opener_(std::move(opener)),
      worker_(std::move(worker)),
      main_(std::move(main)),
      notice_(std::move(notice)) {}

bool RaisingWorkspace::open(const std::string& path) {
    worker_->async([self = shared_from_this(), path] { self->bringForward(path); });
    return true;
}

void RaisingWorkspace::closeDocument(const std::string& standardizedPath) {
    worker_->async([self = shared_from_this(), standardizedPath] { self->endEpisode(standardizedPath); });
}

void RaisingWorkspace::bringForward(const std::string& path) {
    const std::string name = fileNameOf(path);
    const std::optional<int> count = windows_->countWindowsTitled(name);
    if (count && *count > 0) {
        seenSinceOpened_ = seenSinceOpened_ || path == openedPath_;
        if (windows_->raiseWindowsTitled(name) == WindowControl::Outcome::unsupported) {
            tell(cannotRaiseText, toldCannotRaise_);
        }
        return;
    }
    if (!count) {
        tell(cannotRaiseText, toldCannotRaise_);
    }
    // Opening again before a window of the first open shows would give a second window, a second
    // tab or a second process. A window seen and then closed by the user is opened again.
    if (path == openedPath_ && !seenSinceOpened_) {
        return;
    }
    openedPath_ = path;
    seenSinceOpened_ = false;
    main_->async([self = shared_from_this(), path] {
        if (!self->opener_) {
            self->notOpened(path);
            return;
        }
        // The desktop's opener may answer long after it was asked; each attempt is told once. The
        // answer holds this weakly: the opener that keeps it belongs to this.
        self->opener_->openThen(path, [weak = std::weak_ptr(self), path](bool opened) {
            if (const auto again = weak.lock(); again && !opened) {
                again->notOpened(path);
            }
        });
    });
}

void RaisingWorkspace::notOpened(const std::string& path) {
    if (notice_) {
        notice_(notOpenedText);
    }
    // A refusal holds back no next try.
    worker_->async([self = shared_from_this(), path] {
        if (self->openedPath_ == path && !self->seenSinceOpened_) {
            self->openedPath_.clear();
        }
    });
}

void RaisingWorkspace::endEpisode(const std::string& path) {
    openedPath_.clear();
    seenSinceOpened_ = false;
    if (windows_->closeWindowsTitled(fileNameOf(path)) == WindowControl::Outcome::unsupported) {
        tell(cannotCloseText, toldCannotClose_);
    }
}

void RaisingWorkspace::tell(const char* text, bool& toldAlready) {
    if (toldAlready || !notice_) {
        return;
    }
    toldAlready = true;
    main_->async([self = shared_from_this(), text] { self->notice_(text); });
}

}  // namespace tovak::trigger
