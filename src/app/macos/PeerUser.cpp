#include "app/PeerUser.h"

#include <unistd.h>

namespace tovak::app {

bool peerIsThisUser(int socket) {
    uid_t user = 0;
    gid_t group = 0;
    return ::getpeereid(socket, &user, &group) == 0 && user == ::geteuid();
}

}  // namespace tovak::app
