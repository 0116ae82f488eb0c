#include "trigger/PlatformDocuments.h"

namespace tovak::trigger {

// The session's window control both raises and closes; its closing also ends the episode.
PlatformDocuments makePlatformDocuments(std::shared_ptr<WindowControl> windows,
                                        std::shared_ptr<monitor::Workspace> opener,
                                        std::shared_ptr<runtime::TaskQueue> worker,
                                        std::shared_ptr<runtime::TaskQueue> main, RaisingWorkspace::Notice notice) {
    auto documents = RaisingWorkspace::create(std::move(windows), std::move(opener), std::move(worker), std::move(main),
                                              std::move(notice));
    return {documents, documents};
}

}  // namespace tovak::trigger
