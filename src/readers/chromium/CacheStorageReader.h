// The reader of the Chromium family's service-worker caches (the Cache API):
// every named cache of every origin of every profile below the places given
// (or the one folder the user named). Each cache is a simple cache whose
// entries are read with the simple-cache parser and the metadata of
// CacheStorage.h. Each profile's CacheStorage folder is its own root.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/chromium/ChromiumCache.h"

namespace harvix {

// Kept small: a listing holds one for every entry.
struct CacheStorageEntry : CacheEntry {
    uint32_t cache = 0;  // the named cache it was read from (the reader's caches())
    uint32_t bodyOffset = 0;
    uint32_t bodyCrc32 = 0;
    bool hasBodyCrc32 = false;
};

class CacheStorageReader : public CacheReader {
public:
    // `location`: a CacheStorage folder, an origin folder below one, a
    // profile folder or a browser root the user named; without one, every
    // profile below each of `places` (the browser's profile roots).
    explicit CacheStorageReader(std::string location, std::vector<fs::path> places = {});

    // Finds the CacheStorage folders; root() is the first of them. Throws
    // ErrorReport (ChromiumCache, CacheOpen) when there is none.
    void open() override;
    void close() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    BodySource bodySource(const CacheEntry& entry) const override;
    std::string responseHead(const CacheEntry& entry) const override;
    // The stored head without the headers of the codings and lengths: the
    // body is stored as the page received it.
    std::optional<std::string> archiveHead(const CacheEntry& entry) const override;
    std::vector<fs::path> cacheFolders() const override { return resolved_; }

    // One named cache read.
    struct NamedCache {
        uint32_t store = 0;  // index into the folders found
        fs::path folder;     // the <uuid> folder
        std::string name;    // as the page named it; empty when no index names it
        std::string origin;  // empty when no index names it
    };
    const std::vector<NamedCache>& caches() const { return caches_; }

private:
    void readCache(const NamedCache& cache, uint32_t cacheIndex,
                   std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped,
                   bool& stopped);
    const CacheStorageEntry& ownEntry(const CacheEntry& entry) const;
    std::string storedHead(const CacheEntry& entry, bool forDecodedBody) const;

    std::string location_;
    std::vector<fs::path> places_;
    std::vector<chromium::CacheFolder> stores_;  // browser root, CacheStorage folder
    std::vector<fs::path> resolved_;
    std::vector<NamedCache> caches_;
};

// The CacheStorage folders `given` names: such a folder itself (or an
// origin folder below one: its store), a profile folder, or a browser root
// (every profile below it). In profile-name order.
std::vector<chromium::CacheFolder> findCacheStorages(const fs::path& given);

// True when `folder` is a CacheStorage folder or an origin folder below
// one: a store of its own, not a place that holds stores.
bool isCacheStorageFolder(const fs::path& folder);

}  // namespace harvix
