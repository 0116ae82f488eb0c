#include "app/PeerUser.h"

#include <sys/socket.h>
#include <unistd.h>

namespace tovak::app {

bool peerIsThisUser(int socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == ::geteuid();
}

}  // namespace tovak::app
