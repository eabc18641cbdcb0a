// Opening the files of a Chromium cache folder for the parsers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/FileHandle.h"
#include "readers/chromium/ByteSource.h"
#include "readers/chromium/SimpleCacheParser.h"

namespace harvix::chromium {

// A cache file opened through the platform's file handle, for the parsers.
class CacheFile : public ByteSource {
public:
    // The size the open looked at: a file is read as it stood when opened.
    explicit CacheFile(FileHandle handle)
        : handle_(std::move(handle)), size_(handle_.sizeAtOpen()) {}
    uint64_t size() const override { return size_; }
    bool readExactAt(uint64_t offset, void* buffer, std::size_t n) const override {
        return handle_.readExactAt(offset, buffer, n);
    }

private:
    FileHandle handle_;
    uint64_t size_;
};

// Opens a cache file for reading: no link is followed, nothing that is not a
// regular file is opened, nothing blocks. Null on failure.
std::unique_ptr<ByteSource> openCacheFile(const std::filesystem::path& path);

// The last use of the entries of the simple cache in `folder`, from its
// index; empty when it has none this reader can use.
std::vector<IndexedUse> readSimpleIndex(const std::filesystem::path& folder);
// An entry's last use in seconds since 1970; 0 when the index does not know it.
int64_t lastUseOf(const std::vector<IndexedUse>& uses, uint64_t hash);

}  // namespace harvix::chromium
