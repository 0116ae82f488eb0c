#pragma once

namespace tovak::app {

// Whether the process at the other end of a connected local socket runs as this user: a socket
// another account put where Tovak looks is never taken for Tovak.
[[nodiscard]] bool peerIsThisUser(int socket);

}  // namespace tovak::app
