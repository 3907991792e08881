// Writes the given number of bytes to standard output and then to standard error.
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    std::size_t remaining = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 0;
    const std::string chunk(64 * 1024, 'x');
    for (const int fd : {1, 2}) {
        for (std::size_t left = remaining; left > 0;) {
            const ssize_t written = ::write(fd, chunk.data(), std::min(left, chunk.size()));
            if (written <= 0) {
                return 1;
            }
            left -= static_cast<std::size_t>(written);
        }
    }
    return 0;
}
