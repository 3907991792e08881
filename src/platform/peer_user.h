#pragma once

#include <sys/types.h>

#include <optional>

namespace dorvane {

// The user at the other end of a connected Unix-domain socket, as the kernel recorded it when the
// connection was made; absent when the system cannot say.
std::optional<uid_t> peerUser(int socket);

}  // namespace dorvane
