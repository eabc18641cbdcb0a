// Writes Firefox service-worker cache stores (caches.sqlite and its morgue)
// for the tests and the fuzz seeds, odd ones included: responses of any
// status and method, caches of Firefox's own namespace or deleted by the
// page, bodies missing or framed either way.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace harvix::mozcache {

struct DomCacheRecord {
    std::string url;  // the query, if any, is stored apart as Firefox does
    std::string method = "GET";
    int status = 200;
    int responseType = 0;  // 0 basic, 4 opaque
    std::string statusText = "OK";
    std::string contentType;  // stored as the first header, when not empty
    std::vector<std::pair<std::string, std::string>> headers;  // stored after it
    std::string body;                                          // as the page received it
    int nameSpace = 0;       // of its cache; -1: a cache the page deleted (no name holds it)
    bool firefoxCrc = true;  // the body framed as Firefox frames it
    bool bodyFile = true;    // false: the morgue file is missing
};

// Writes <profile>/storage/default/<origin>/cache/caches.sqlite (left in WAL
// mode, as Firefox leaves it once closed) and each body's morgue file. The
// records from `firstInLog` on are committed one at a time to the
// write-ahead log only (caches.sqlite-wal), as a Firefox still running or
// killed leaves them. Throws WriteError on failure.
void writeDomCacheStore(const std::filesystem::path& profile, const std::string& origin,
                        const std::vector<DomCacheRecord>& records,
                        std::size_t firstInLog = static_cast<std::size_t>(-1));

}  // namespace harvix::mozcache
