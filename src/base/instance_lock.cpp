#include "base/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace dorvane {

InstanceLock::InstanceLock(const std::string& path) {
    // A bare name is a file in the working folder, which needs no making.
    if (const auto folder = std::filesystem::path(path).parent_path(); !folder.empty()) {
        std::error_code folderFailure;
        std::filesystem::create_directories(folder, folderFailure);
        if (folderFailure) {
            failure_ = "cannot make the folder of " + path + ": " + folderFailure.message();
            return;
        }
    }
    // O_NOFOLLOW: a link planted at the lock's name never makes us open another file.
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_.valid()) {
        failure_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
        state_ = State::Held;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::HeldElsewhere;
        fd_.reset();
    } else {
        failure_ = "cannot lock " + path + ": " + std::strerror(errno);
        fd_.reset();
    }
}

}  // namespace dorvane
