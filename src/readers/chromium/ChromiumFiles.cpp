#include "readers/chromium/ChromiumFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace harvix::chromium {

namespace fs = std::filesystem;

namespace {

// A cache file opened without following links and without blocking.
class CacheFile : public ByteSource {
public:
    CacheFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~CacheFile() override { ::close(fd_); }
    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;
    uint64_t size() const override { return size_; }
    bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const override {
        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got =
                ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

}  // namespace

std::unique_ptr<ByteSource> openCacheFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<CacheFile>(fd, static_cast<uint64_t>(info.st_size));
}

}  // namespace harvix::chromium
