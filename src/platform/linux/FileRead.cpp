#include "platform/FileRead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace harvix {

std::size_t readFromDescriptor(int fd, uint64_t offset, void* buffer, std::size_t n) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return done;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

uint64_t descriptorSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<uint64_t>(info.st_size);
}

}  // namespace harvix
