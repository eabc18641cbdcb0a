#include "readers/chromium/ChromiumFiles.h"

#include <algorithm>

#include "platform/FileHandle.h"
#include "readers/chromium/ResponseInfo.h"
#include "readers/chromium/SimpleCacheFormat.h"

namespace harvix::chromium {

std::unique_ptr<ByteSource> openCacheFile(const std::filesystem::path& path) {
    FileHandle handle = FileHandle::openForReading(path);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<CacheFile>(std::move(handle));
}

std::vector<IndexedUse> readSimpleIndex(const std::filesystem::path& folder) {
    const std::unique_ptr<ByteSource> file =
        openCacheFile(folder / simplecache::kIndexFolder / simplecache::kIndexFile);
    if (!file || file->size() > simplecache::kMaxIndexSize) {
        return {};
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(file->size()));
    if (!file->readExactAt(0, bytes.data(), bytes.size())) {
        return {};
    }
    std::optional<std::vector<IndexedUse>> uses = parseSimpleIndex(bytes);
    return uses ? std::move(*uses) : std::vector<IndexedUse>{};
}

int64_t lastUseOf(const std::vector<IndexedUse>& uses, uint64_t hash) {
    const auto found =
        std::lower_bound(uses.begin(), uses.end(), hash,
                         [](const IndexedUse& use, uint64_t wanted) { return use.hash < wanted; });
    if (found == uses.end() || found->hash != hash || found->lastUsed <= 0) {
        return 0;
    }
    return unixTimeFromChromium(found->lastUsed);
}

}  // namespace harvix::chromium
