#include "platform/FileRead.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <string>

namespace harvix {

namespace {

// A stream over `fd` (taken over) when it is a regular file, else null.
ReadStream streamOfRegularFile(int fd) {
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
    }
    return ReadStream(file);
}

}  // namespace

ReadStream openRegularFile(const std::filesystem::path& path) {
    // Non-blocking, so that a FIFO standing where a file was expected does
    // not hold the open; it is refused as no regular file just after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    ReadStream stream = streamOfRegularFile(fd);
    if (stream) {
        const int flags = ::fcntl(::fileno(stream.get()), F_GETFL);
        if (flags >= 0) {
            ::fcntl(::fileno(stream.get()), F_SETFL, flags & ~O_NONBLOCK);
        }
    }
    return stream;
}

ReadStream reopenForReading(int fd) {
    if (fd < 0) {
        return nullptr;
    }
    // The descriptor's own entry under /proc opens the file anew, even when
    // it has no name (a copy made with O_TMPFILE) and `fd` is write-only.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return streamOfRegularFile(::open(self.c_str(), O_RDONLY | O_CLOEXEC));
}

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
