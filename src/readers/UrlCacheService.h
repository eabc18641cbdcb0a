// The URL cache service: enumeration of the cache that Internet Explorer and
// Maxthon share. The reader (UrlCacheReader) sees the cache only through this
// interface and relies on the few fields of UrlCacheEntryInfo; where they
// come from is the service's business. On Linux they come from WinINet's
// index file as Wine writes it (MsiecfUrlCache.h); tests serve prepared
// lists.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace harvix {

// Entry-kind bits of UrlCacheEntryInfo::cacheEntryType, with the values the
// system's URL cache gives them.
inline constexpr uint32_t kNormalCacheEntry = 0x00000001;
inline constexpr uint32_t kCookieCacheEntry = 0x00100000;
inline constexpr uint32_t kUrlHistoryCacheEntry = 0x00200000;

// What the service reports of one cache entry. Texts are UTF-8.
struct UrlCacheEntryInfo {
    std::string sourceUrl;      // the entry's URL; empty when the record holds none
    std::string localFileName;  // full path of the cached file; empty when there is none
    uint32_t cacheEntryType = 0;
    uint32_t sizeLow = 0;         // low 32 bits of the cached file's size
    uint64_t size = 0;            // the whole size where the service knows it; 0: use sizeLow
    uint64_t lastSyncTime = 0;    // Windows file time: 100 ns units since 1601-01-01 UTC
    uint64_t lastAccessTime = 0;  // the same; 0 when the record keeps none
    uint64_t expireTime = 0;      // the same; 0 when the record keeps none
    bool hasHeaderInfo = false;
    std::string headerInfo;  // the stored HTTP header text, when hasHeaderInfo
};

// One running enumeration; destroying it ends the enumeration.
class UrlCacheEnumeration {
public:
    virtual ~UrlCacheEnumeration() = default;
    // Fills `info` with the next entry; false at the end, or after a failure
    // that ends the enumeration.
    virtual bool next(UrlCacheEntryInfo& info) = 0;
};

class UrlCacheService {
public:
    virtual ~UrlCacheService() = default;

    // Makes the cache ready for enumeration. When there is no cache to read,
    // throws ErrorReport (module IECache, kind CacheOpen) saying why: `path`
    // is the index tried (where none was found, ENOENT, the first place
    // looked at, `secondPath` the other), the system error what was wrong.
    virtual void open() = 0;
    // Releases what open acquired; safe when nothing is open, and repeatedly.
    virtual void close() = 0;
    // Starts an enumeration of every entry and fills `info` with the first.
    // Null when the cache yields no entry (empty, not open, or unreadable).
    virtual std::unique_ptr<UrlCacheEnumeration> findFirst(UrlCacheEntryInfo& info) = 0;
    // The folder that holds the cached files (after a successful open); the
    // reader copies nothing from outside it.
    virtual std::filesystem::path cacheFolder() const = 0;
};

}  // namespace harvix
