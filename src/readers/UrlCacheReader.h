// The cache reader for Internet Explorer and Maxthon, which keep their
// downloads in the same URL cache. It parses no cache file itself: it walks
// the URL cache service's entries, keeps those with a URL, a local file and
// stored header text (cookies and history are not downloads), and copies an
// entry's local file on request. Both browser kinds use it alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "readers/CacheReader.h"
#include "readers/UrlCacheService.h"

namespace harvix {

namespace fs = std::filesystem;

class UrlCacheReader : public CacheReader {
public:
    // The index holds the header text in its record, and the service
    // holds the whole index in memory anyway: the entry keeps its copy.
    struct Entry : CacheEntry {
        std::string headerText;
    };

    // The cache that `service` serves.
    explicit UrlCacheReader(std::unique_ptr<UrlCacheService> service);
    ~UrlCacheReader() override;

    // Releases the service's hold on the cache.
    void close() override;
    // Makes the service ready and takes the folder of its cached files as
    // the root. When there is no cache to read, throws the service's
    // ErrorReport (IECache, CacheOpen) saying where it was looked for.
    void open() override;
    // One entry per usable cache entry, in the service's order.
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    // The entry's local file, exactly the entry's size from its start.
    BodySource bodySource(const CacheEntry& entry) const override;
    // The header text the record keeps (a status line, then header lines).
    std::string responseHead(const CacheEntry& entry) const override;
    // WinINet keeps the file as the browser got it after undoing the
    // Content-Encoding, under the head that still names it: an entry whose
    // head names a coding is not archived, one whose head names none is.
    std::optional<std::string> archiveHead(const CacheEntry& entry) const override;

    // The service the entries come from.
    UrlCacheService& service() { return *service_; }
    const UrlCacheService& service() const { return *service_; }

    // Entry time of a cache entry's last-synchronisation time (Windows file
    // time): seconds since 1970-01-01 UTC; 0 for a time before 1970 (the
    // zero file time of an entry never synchronised among them).
    static int64_t entryTime(uint64_t lastSyncTime);

private:
    std::unique_ptr<UrlCacheService> service_;
};

}  // namespace harvix
