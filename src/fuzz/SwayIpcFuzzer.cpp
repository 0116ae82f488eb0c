// An answer read from sway's socket, header and payload; the first byte picks the request it
// answers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "trigger/wlroots/SwayIpc.h"

using tovak::trigger::SwayIpc;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr SwayIpc::Message kTypes[] = {SwayIpc::Message::runCommand, SwayIpc::Message::getOutputs,
                                           SwayIpc::Message::getTree};
    const SwayIpc::Message type = kTypes[data[0] % 3];
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto length = SwayIpc::answerLength(bytes.substr(0, SwayIpc::headerSize), type);
    const auto answer = SwayIpc::decode(bytes, type);
    TOVAK_FUZZ_CHECK(!answer || (length && *length == bytes.size() - SwayIpc::headerSize));
    return 0;
}
