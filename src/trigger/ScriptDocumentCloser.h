#pragma once

#include <memory>

#include "monitor/ports/Services.h"
#include "system/ScriptRunner.h"

namespace tovak::trigger {

// Closes the document by sending the close script to the document applications through the
// script runner; the outcome is ignored.
class ScriptDocumentCloser final : public monitor::DocumentCloser {
  public:
    explicit ScriptDocumentCloser(std::shared_ptr<system::ScriptRunner> runner) : runner_(std::move(runner)) {}
    void closeDocument(const std::string& standardizedPath) override;

  private:
    std::shared_ptr<system::ScriptRunner> runner_;
};

}  // namespace tovak::trigger
