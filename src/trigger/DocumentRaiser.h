#pragma once

#include <string>

namespace tovak::trigger {

// Brings a window that already shows the document to the front; opens nothing. Main thread.
class DocumentRaiser {
  public:
    virtual ~DocumentRaiser() = default;
    // False when no window of the document was found.
    virtual bool raiseDocument(const std::string& path) = 0;
};

}  // namespace tovak::trigger
