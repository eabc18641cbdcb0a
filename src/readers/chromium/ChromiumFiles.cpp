#include "readers/chromium/ChromiumFiles.h"

#include "platform/FileHandle.h"

namespace harvix::chromium {

std::unique_ptr<ByteSource> openCacheFile(const std::filesystem::path& path) {
    FileHandle handle = FileHandle::openForReading(path);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<CacheFile>(std::move(handle));
}

}  // namespace harvix::chromium
