// A program for the runner's tests: it performs the actions named by its arguments, in order.
//   out TEXT | err TEXT          write TEXT to standard output or error
//   out-bytes N | err-bytes N    write N bytes to standard output or error
//   out-raw HEX                  write raw bytes given in hexadecimal to standard output
//   fds                          list its open descriptors on standard output
//   sleep MS                     sleep for MS milliseconds
//   grandchild-sleep MS          start a child that holds the streams open and sleeps
//   close-streams                close standard output and error
//   signal N                     raise signal N
//   exit N                       exit with status N
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            std::exit(90);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void writeBytes(int fd, std::size_t count) {
    const std::string chunk(64 * 1024, 'x');
    while (count > 0) {
        const std::size_t now = std::min(count, chunk.size());
        writeAll(fd, chunk.data(), now);
        count -= now;
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string action = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (action == "out" || action == "err") {
            writeAll(action == "out" ? 1 : 2, value.data(), value.size());
            ++i;
        } else if (action == "out-bytes" || action == "err-bytes") {
            writeBytes(action == "out-bytes" ? 1 : 2, std::stoull(value));
            ++i;
        } else if (action == "out-raw") {
            std::string bytes;
            for (std::size_t k = 0; k + 1 < value.size(); k += 2) {
                bytes += static_cast<char>(std::stoi(value.substr(k, 2), nullptr, 16));
            }
            writeAll(1, bytes.data(), bytes.size());
            ++i;
        } else if (action == "fds") {
            DIR* dir = ::opendir("/proc/self/fd");
            const int own = dir != nullptr ? ::dirfd(dir) : -1;
            while (dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) {
                const std::string name = entry->d_name;
                if (name != "." && name != ".." && std::stoi(name) != own) {
                    const std::string line = name + "\n";
                    writeAll(1, line.data(), line.size());
                }
            }
            if (dir != nullptr) {
                ::closedir(dir);
            }
        } else if (action == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoll(value)));
            ++i;
        } else if (action == "grandchild-sleep") {
            if (::fork() == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(std::stoll(value)));
                std::_Exit(0);
            }
            ++i;
        } else if (action == "close-streams") {
            ::close(1);
            ::close(2);
        } else if (action == "signal") {
            ::raise(std::stoi(value));
            ++i;
        } else if (action == "exit") {
            return std::stoi(value);
        } else {
            return 99;
        }
    }
    return 0;
}
