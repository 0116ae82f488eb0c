#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "system/Json.h"

namespace tovak::trigger {

using system::Json;

// sway's own IPC socket ($SWAYSOCK): one request, one answer, each a message of the i3 IPC format
// ("i3-ipc", payload length and type in the machine's byte order, then the payload). Blocking,
// bounded by one deadline for the whole exchange; a fresh connection per request, so a restarted
// sway is found again.
class SwayIpc {
  public:
    enum class Message : std::uint32_t { runCommand = 0, getOutputs = 3, getTree = 4 };
    // The magic and the two numbers before every payload.
    static constexpr std::size_t headerSize = 14;

    explicit SwayIpc(std::string socketPath) : socketPath_(std::move(socketPath)) {}

    // The answer's payload, parsed; none when sway could not be reached, answered garbage or had not
    // answered in full 2 s after the request began.
    [[nodiscard]] std::optional<Json> request(Message type, const std::string& payload = {}) const;

    // A request as it goes on the wire.
    [[nodiscard]] static std::string encode(Message type, std::string_view payload);
    // The payload's length announced by header (headerSize bytes) when it begins an answer to type;
    // none for anything else.
    [[nodiscard]] static std::optional<std::uint32_t> answerLength(std::string_view header, Message type);
    // A whole answer to type as read from the socket, header and payload, parsed; none when it is not
    // exactly one.
    [[nodiscard]] static std::optional<Json> decode(std::string_view bytes, Message type);

    // A criteria value matching exactly this text: sway reads criteria values as regular
    // expressions inside double quotes.
    [[nodiscard]] static std::string exactCriterion(const std::string& text);

  private:
    std::string socketPath_;
};

}  // namespace tovak::trigger
