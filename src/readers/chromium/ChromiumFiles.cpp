#include "readers/chromium/ChromiumFiles.h"

#include "platform/FileHandle.h"

namespace harvix::chromium {

namespace {

// A cache file opened through the platform's file handle.
class CacheFile : public ByteSource {
public:
    explicit CacheFile(FileHandle handle) : handle_(std::move(handle)), size_(handle_.size()) {}
    uint64_t size() const override { return size_; }
    bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const override {
        return handle_.readExactAt(offset, buffer, n);
    }

private:
    FileHandle handle_;
    uint64_t size_;
};

}  // namespace

std::unique_ptr<ByteSource> openCacheFile(const std::filesystem::path& path) {
    FileHandle handle = FileHandle::openForReading(path);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<CacheFile>(std::move(handle));
}

}  // namespace harvix::chromium
