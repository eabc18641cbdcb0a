// Reads the index of one origin's Firefox service-worker caches
// (caches.sqlite, DomCacheFormat.h) from its bytes. The bytes are handed to
// SQLite as a read-only database in memory, the committed pages of its
// write-ahead log already laid over them (DomCacheWal.h): SQLite opens
// nothing beside the file, makes no journal, and every query is bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace harvix::domcache {

struct DomCacheRow {
    int64_t id = 0;
    std::string method;
    std::string url;  // request_url_no_query + request_url_query
    int64_t responseType = 0;
    int64_t status = 0;
    std::string bodyId;                // "{uuid}"; empty when the entry has no body
    std::optional<int64_t> nameSpace;  // of the named cache; none when no name holds it
    std::string statusText;
    std::vector<std::pair<std::string, std::string>> headers;  // as stored, in stored order
    std::string contentType;  // the first Content-Type header; empty when none

    // The stored response head: the status line and every header as stored.
    std::string head() const;
};

// The entries of the database in `bytes` (which this may change: the
// header is marked as not in WAL mode). Null, with `why` set, when the
// bytes are no database of this kind.
std::optional<std::vector<DomCacheRow>> readDomCacheRows(std::vector<unsigned char>& bytes,
                                                         std::string& why);

// The body file of `bodyId` relative to the origin's cache folder
// ("morgue/<n>/{uuid}.final"); empty for an id that is no "{uuid}".
std::string morguePath(const std::string& bodyId);

}  // namespace harvix::domcache
