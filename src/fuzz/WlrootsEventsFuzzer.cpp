// What a wlroots compositor says on the Wayland socket. The bytes are its turns, split at "SEND":
// one turn goes out each time the connection has spoken (or has kept quiet for a moment), since
// events for objects the client has not made yet are dropped unread. Once the turns run out the
// compositor stops sending. The connection counts, activates and closes windows on what it
// understood.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>

#include "fuzz/FuzzCheck.h"
#include "trigger/wlroots/ToplevelConnection.h"

using tovak::trigger::ToplevelConnection;

namespace {

constexpr std::string_view kTurnEnd = "SEND";

void compositor(int fd, std::string_view said) {
    char heard[4096];
    while (!said.empty()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30) == 1 && ::read(fd, heard, sizeof heard) <= 0) {
            break;
        }
        const std::size_t end = said.find(kTurnEnd);
        const std::string_view turn = said.substr(0, end);
        said = end == std::string_view::npos ? std::string_view() : said.substr(end + kTurnEnd.size());
        if (!turn.empty() && ::send(fd, turn.data(), turn.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(turn.size())) {
            break;
        }
    }
    ::shutdown(fd, SHUT_WR);
    // Heard to the end, so the client never waits on a full socket.
    while (::read(fd, heard, sizeof heard) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Within what a socket's buffer takes without a reader.
    if (size > 64 * 1024) {
        return 0;
    }
    int fds[2];
    TOVAK_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    std::thread peer(compositor, fds[1], std::string_view(reinterpret_cast<const char*>(data), size));
    if (auto connection = ToplevelConnection::adopt(fds[0])) {
        for (const auto action : {ToplevelConnection::Action::count, ToplevelConnection::Action::activate,
                                  ToplevelConnection::Action::close}) {
            connection->act(action, "a");
        }
    }
    peer.join();
    ::close(fds[1]);
    return 0;
}
