#include "base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"

namespace dorvane {
namespace {

bool fail(std::string* error, const std::string& what, const std::string& path) {
    if (error != nullptr) {
        *error = what + " " + path + ": " + std::strerror(errno);
    }
    return false;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

// A temporary file is named after its target with a hidden prefix and a marker no person would
// type, so that the clean-up at start can never take a user's own file (a ".backup", a copy with
// six letters of its own) for one of ours. mkostemp fills the last six characters.
constexpr const char* kTemporaryPrefix = ".";
constexpr const char* kTemporaryMarker = ".dorvane-partial-";
constexpr std::size_t kTemporaryRandomLength = 6;

std::string temporaryNameStem(const std::string& fileName) {
    return kTemporaryPrefix + fileName + kTemporaryMarker;
}

std::string fileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// mkostemp fills in letters and digits only.
bool isTemporaryName(const std::string& name, const std::string& stem) {
    return name.size() == stem.size() + kTemporaryRandomLength && name.starts_with(stem) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(stem.size()), name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* error,
                         unsigned mode) {
    return writeFileAtomicallyIf(
               path, bytes, [] { return true; }, error, mode) == AtomicWrite::Written;
}

AtomicWrite writeFileAtomicallyIf(const std::string& path, const std::string& bytes,
                                  const std::function<bool()>& stillCurrent, std::string* error,
                                  unsigned mode) {
    std::string temporary = folderOf(path) + "/" + temporaryNameStem(fileNameOf(path)) +
                            std::string(kTemporaryRandomLength, 'X');
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        fail(error, "cannot create a temporary file beside", path);
        return AtomicWrite::Failed;
    }
    const bool written = ::fchmod(fd.get(), static_cast<mode_t>(mode)) == 0 &&
                         writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    const int writeError = errno;
    // close() can report a late write error, so its result counts too.
    const bool closed = ::close(fd.release()) == 0;
    if (!written || !closed) {
        const int failure = written ? errno : writeError;
        ::unlink(temporary.c_str());
        errno = failure;
        fail(error, "cannot write", path);
        return AtomicWrite::Failed;
    }
    // Asked as late as possible: what remains between the answer and the rename is a few
    // microseconds, where a write and its flush to disk took milliseconds.
    if (!stillCurrent()) {
        ::unlink(temporary.c_str());
        return AtomicWrite::Superseded;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        errno = renameError;
        fail(error, "cannot replace", path);
        return AtomicWrite::Failed;
    }
    // The rename itself lives in the folder: flush it too, so the new name survives a crash.
    UniqueFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) {
        ::fsync(folder.get());
    }
    return AtomicWrite::Written;
}

std::optional<std::string> readWholeFile(const std::string& path, std::string* error) {
    // Opened without blocking, so a FIFO put in the file's place cannot hold the reader.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        fail(error, "cannot open", path);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        fail(error, "cannot examine", path);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        fail(error, "not a regular file:", path);
        return std::nullopt;
    }
    std::string contents;
    std::array<char, 64 * 1024> buffer;
    while (true) {
        const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            fail(error, "cannot read", path);
            return std::nullopt;
        }
        if (count == 0) {
            return contents;
        }
        contents.append(buffer.data(), static_cast<std::size_t>(count));
        if (contents.size() > kMaximumFileSize) {
            errno = EFBIG;
            fail(error, "too large to be read:", path);
            return std::nullopt;
        }
    }
}

void removeStaleTemporaryFiles(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string stem = temporaryNameStem(fileNameOf(path));
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (isTemporaryName(name, stem)) {
            ::unlink((folder + "/" + name).c_str());
        }
    }
    ::closedir(directory);
}

}  // namespace dorvane
