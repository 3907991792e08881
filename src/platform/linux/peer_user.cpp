#include "platform/peer_user.h"

#include <sys/socket.h>

namespace dorvane {

std::optional<uid_t> peerUser(int socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials) {
        return std::nullopt;
    }
    return credentials.uid;
}

}  // namespace dorvane
