#include "readers/cache2/Cache2Body.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "readers/cache2/Cache2Folder.h"

namespace harvix::cache2 {

namespace {

bool writeAll(int fd, const unsigned char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

struct Closer {
    int fd;
    ~Closer() {
        if (fd >= 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
        }
    }
};

}  // namespace

bool copyEntryBody(const fs::path& entriesFolder, const std::string& fileName, uint64_t length,
                   ContentEncoding encoding, int outFd, uint64_t decodedLimit) {
    if (!isEntryFileName(fileName)) {
        errno = EINVAL;
        return false;
    }
    if (encoding == ContentEncoding::Unsupported) {
        errno = ENOTSUP;
        return false;
    }
    const Closer dir{::open(entriesFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) {
        return false;
    }
    const Closer file{
        ::openat(dir.fd, fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return false;
    }
    if (static_cast<uint64_t>(info.st_size) < length) {
        errno = ENODATA;  // the entry changed since it was listed
        return false;
    }
    BodyDecoder decoder(encoding, decodedLimit);
    bool writeFailed = false;
    const auto sink = [&](std::span<const unsigned char> bytes) {
        if (!writeAll(outFd, bytes.data(), bytes.size())) {
            writeFailed = true;
            return false;
        }
        return true;
    };
    std::vector<unsigned char> buffer(256 * 1024);
    uint64_t done = 0;
    while (done < length) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), length - done));
        const ssize_t got = ::pread(file.fd, buffer.data(), want, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = ENODATA;  // cut short while we read
            }
            return false;
        }
        if (!decoder.feed({buffer.data(), static_cast<std::size_t>(got)}, sink)) {
            if (!writeFailed) {
                errno = decoder.limitReached() ? EFBIG : EILSEQ;
            }
            return false;
        }
        done += static_cast<uint64_t>(got);
    }
    if (!decoder.finish()) {
        errno = EILSEQ;
        return false;
    }
    return true;
}

}  // namespace harvix::cache2
