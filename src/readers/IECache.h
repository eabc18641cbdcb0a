// The cache reader for Internet Explorer and Maxthon, which keep their
// downloads in the same URL cache. It parses no cache file itself: it walks
// the URL cache service's entries, keeps those with a URL, a local file and
// stored header text (cookies and history are not downloads), and copies an
// entry's local file on request. Both browser kinds use it alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "readers/CacheBrowser.h"
#include "readers/UrlCache.h"

namespace fs = std::filesystem;

class CIECache : public CCacheBrowser {
public:
    // The system's URL cache: on Linux the index of the Wine prefix in force.
    CIECache();
    // The cache that `service` serves.
    explicit CIECache(std::unique_ptr<IUrlCacheService> service);
    ~CIECache() override;

    // Releases the service's hold on the cache.
    void Close() override;
    // Makes the service ready. When there is no cache to read, throws a
    // silent CError (IECache, FileOpen) naming where it was looked for.
    void Open() override;
    // One entry per usable cache entry, in the service's order.
    void ReadEntries() override;
    // Copies the entry's local file to `target` (the kernel copies; memory
    // stays bounded). A failure throws CError (IECache, FileCopy, the local
    // file, the target) and leaves no file of its own behind: an existing
    // target keeps its old content.
    bool CopyEntryData(CCacheElement& entry, const fs::path& target, bool failIfExists) override;

    // The service, e.g. for the reason of a failed Open.
    IUrlCacheService& Service() { return *service_; }

    // Entry time of a cache entry's last-synchronisation time (Windows file
    // time): seconds since 1970-01-01 UTC; 0 for a time before 1970 (the
    // zero file time of an entry never synchronised among them).
    static int64_t EntryTime(uint64_t lastSyncTime);

private:
    std::unique_ptr<IUrlCacheService> service_;
};
