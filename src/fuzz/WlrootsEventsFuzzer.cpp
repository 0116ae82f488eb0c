// What a wlroots compositor says on the Wayland socket: the bytes wait in a socket pair whose far
// end then stops sending, and the connection reads them as a compositor's events, then counts,
// activates and closes windows on what it understood.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "trigger/wlroots/ToplevelConnection.h"

using tovak::trigger::ToplevelConnection;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Within what a socket's buffer takes without a reader.
    if (size > 64 * 1024) {
        return 0;
    }
    int fds[2];
    TOVAK_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    TOVAK_FUZZ_CHECK(size == 0 || ::write(fds[1], data, size) == static_cast<ssize_t>(size));
    ::shutdown(fds[1], SHUT_WR);
    if (auto connection = ToplevelConnection::adopt(fds[0])) {
        for (const auto action :
             {ToplevelConnection::Action::count, ToplevelConnection::Action::activate, ToplevelConnection::Action::close}) {
            connection->act(action, "a");
        }
    }
    ::close(fds[1]);
    return 0;
}
