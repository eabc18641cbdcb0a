// Reading the HTTP caches of the Chromium family (Chromium, Chrome, Edge,
// Brave, Vivaldi, Opera): where they lie, which format a folder holds, and
// the entries a comb may use. Both formats end in the same records: an http
// or https URL, the response head, the stored body's place and encoding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "readers/chromium/ByteSource.h"
#include "readers/http/BodyDecoder.h"

namespace harvix::chromium {

namespace fs = std::filesystem;

// One HTTP cache folder and the browser root the listing names files from.
struct CacheFolder {
    fs::path browserRoot;  // e.g. ~/.cache/chromium
    fs::path folder;       // e.g. ~/.cache/chromium/Default/Cache/Cache_Data
};

// The HTTP cache folders `given` names: a cache folder itself (Cache_Data,
// or an older profile's Cache), a profile folder, or a browser root (every
// profile: Default, Profile N, Guest Profile, ...). Code caches, GPU caches
// and the like are never among them. In profile-name order.
std::vector<CacheFolder> findCacheFolders(const fs::path& given);

// Where an entry's bytes lie in its cache folder, in few bytes: a listing
// keeps one for every entry, and keeps the response head's place rather
// than the head (heads run to kilobytes; a preview reads one again).
// Offsets fit 32 bits: a simple cache's body follows the header and the key
// (at most 1 MiB), and a block file holds at most 65,536 blocks of 4 KiB.
struct StoredPlace {
    uint32_t bodyOffset = 0;
    // Stream 0 (the pickled response info): with `headFile` 0 in the body's
    // file right after the body's end record (a simple cache); else at
    // `headOffset` of data_N (kHeadInBlockFile | N) or of f_N
    // (kHeadInExternalFile | N).
    uint32_t headFile = 0;
    uint32_t headOffset = 0;
    uint32_t headSize = 0;
    uint32_t bodyCrc32 = 0;     // the CRC-32 the body must have, when
    bool hasBodyCrc32 = false;  // its end record gives one
    // Media fetched in ranges (a simple cache): the body is the ranges of
    // the `_s` file the record's data file names (SparseEntry.h), the head
    // at `headOffset` of the `_0` file beside it.
    bool sparse = false;
};
inline constexpr uint32_t kHeadInBlockFile = 1u << 31;
inline constexpr uint32_t kHeadInExternalFile = 1u << 30;

// One entry a comb may use.
struct CacheRecord {
    std::string url;
    std::string contentTypeText;
    uint64_t size = 0;  // the stored body's bytes
    int64_t time = 0;   // response time, seconds since 1970
    // Seconds since 1970: the index's last use (simple cache) or the
    // rankings node's (block files); 0 when unknown.
    int64_t lastUsed = 0;
    uint16_t status = 0;
    // The file holding the body, relative to the browser root; its last part
    // is the file's name in the cache folder.
    std::string dataFile;
    ContentEncoding encoding = ContentEncoding::Identity;
    StoredPlace place;
};

// The body's file of an entry of the cache folder `folder`.
fs::path bodyPath(const fs::path& folder, const std::string& dataFile);

using SkipReport = std::function<void(const std::string& reason)>;

// Reads one cache folder (either format) and appends its usable entries.
// Every entry left out is reported with its reason; a folder that holds no
// readable cache is reported once ("unreadable cache folder (...)").
void readCacheFolder(const CacheFolder& cache, std::vector<CacheRecord>& out,
                     const SkipReport& skip);

// The same, handing each usable entry to `accept` as it is read.
// `keepGoing`, when given, is asked before each entry; false ends the
// reading there (what was handed on stands).
using RecordSink = std::function<void(CacheRecord&&)>;
void readCacheRecords(const CacheFolder& cache, const RecordSink& accept, const SkipReport& skip,
                      const std::function<bool()>& keepGoing = {});

// The decision every entry of either format goes through: the URL from the
// key, the response info from stream 0, status 200 or 203, a whole, non-empty
// body. Null when the entry is taken (`record` filled), else why it is left out.
const char* acceptEntry(std::string_view key, std::span<const unsigned char> stream0,
                        uint64_t bodyLength, CacheRecord& record);

// The raw response head (NUL-separated lines) of an entry of the cache
// folder `folder`, read again from where `place` says, below `root`; empty
// when it cannot be read or is no response info (the browser rewrote the
// entry meanwhile).
std::string readResponseHead(const fs::path& root, const fs::path& folder,
                             const std::string& dataFile, uint64_t bodySize,
                             const StoredPlace& place);

}  // namespace harvix::chromium
