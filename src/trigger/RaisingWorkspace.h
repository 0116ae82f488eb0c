#pragma once

#include <memory>
#include <string>

#include "monitor/ports/Services.h"
#include "runtime/Clock.h"
#include "trigger/DocumentRaiser.h"

namespace tovak::trigger {

// Brings the trigger document forward without opening it twice: a window that already shows it is
// raised; only when there is none is the document handed to the desktop opener, and not again for
// the same file while the application that opener started may still be on its way.
class RaisingWorkspace final : public monitor::Workspace {
  public:
    static constexpr double openerPatienceSeconds = 5.0;

    // Without a raiser every call goes to the opener, which then raises an open document itself.
    RaisingWorkspace(std::shared_ptr<DocumentRaiser> raiser, std::shared_ptr<monitor::Workspace> opener,
                     std::shared_ptr<runtime::Clock> clock);

    bool open(const std::string& path) override;

  private:
    std::shared_ptr<DocumentRaiser> raiser_;
    std::shared_ptr<monitor::Workspace> opener_;
    std::shared_ptr<runtime::Clock> clock_;
    std::string lastOpenedPath_;
    double lastOpenedAt_ = 0;
};

}  // namespace tovak::trigger
