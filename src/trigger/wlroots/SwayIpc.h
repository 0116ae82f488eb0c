#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "system/Json.h"

namespace tovak::trigger {

using system::Json;

// sway's own IPC socket ($SWAYSOCK): one request, one answer, each a message of the i3 IPC format
// ("i3-ipc", payload length and type in the machine's byte order, then the payload). Blocking,
// bounded by a timeout; a fresh connection per request, so a restarted sway is found again.
class SwayIpc {
  public:
    enum class Message : std::uint32_t { runCommand = 0, getOutputs = 3, getTree = 4 };

    explicit SwayIpc(std::string socketPath) : socketPath_(std::move(socketPath)) {}

    // The answer's payload, parsed; none when sway could not be reached or answered garbage.
    [[nodiscard]] std::optional<Json> request(Message type, const std::string& payload = {}) const;

    // A criteria value matching exactly this text: sway reads criteria values as regular
    // expressions inside double quotes.
    [[nodiscard]] static std::string exactCriterion(const std::string& text);

  private:
    std::string socketPath_;
};

}  // namespace tovak::trigger
