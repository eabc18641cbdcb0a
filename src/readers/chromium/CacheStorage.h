// The two messages of the Chromium family's service-worker caches
// (CacheStorageFormat.h): the origin's index of named caches, and the
// metadata of each entry, with the decision which entries a comb may use.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace harvix::chromium {

struct CacheStorageIndex {
    struct Cache {
        std::string name;    // as the page named it (UTF-8)
        std::string folder;  // the <uuid> folder
    };
    std::string origin;
    std::vector<Cache> caches;
};

// Null for bytes that are no index (a damaged message, a cache without a
// folder). At most kMaxCaches caches are kept.
std::optional<CacheStorageIndex> parseCacheStorageIndex(std::span<const unsigned char> bytes);

struct CacheMetadata {
    std::string method;
    int64_t status = 0;
    std::string statusText;
    uint64_t responseType = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::string> urlList;
    int64_t responseTime = 0;  // µs since 1601, 0 when not stored
    int64_t entryTime = 0;     // µs since 1601, 0 when not stored
    std::string mimeType;

    // The value of the first header of that name (any case); empty when none.
    std::string header(std::string_view name) const;
    // The stored head: a status line and one line per stored header, in
    // stored order. `forDecodedBody`: without the headers of the body's
    // codings and lengths (Content-Encoding, Content-Length,
    // Transfer-Encoding), the head that fits the body as stored, which is
    // as the page received it.
    std::string head(bool forDecodedBody = false) const;
};

// Null for bytes that are no metadata (damaged, no response).
std::optional<CacheMetadata> parseCacheMetadata(std::span<const unsigned char> bytes);

// What a listing shows of an accepted entry.
struct CacheStorageRecord {
    std::string url;
    std::string contentTypeText;
    int64_t time = 0;     // seconds since 1970
    uint16_t status = 0;  // the stored status; 0 for an opaque answer, whose status is hidden
    std::optional<int64_t> responseTime;  // seconds since 1970, when stored
};

// The decision for one entry: its key (the request URL), stream 0, the
// body's length. Taken: an http or https GET answered 200 or 203 (or
// opaque, a no-cors answer whose status is hidden), with a body. Null when
// taken (`record` filled), else why it is left out.
const char* acceptCacheStorageEntry(std::string_view key, std::span<const unsigned char> stream0,
                                    uint64_t bodyLength, CacheStorageRecord& record);

}  // namespace harvix::chromium
