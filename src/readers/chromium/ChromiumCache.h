// Reading the HTTP caches of the Chromium family (Chromium, Chrome, Edge,
// Brave, Vivaldi, Opera): where they lie, which format a folder holds, and
// the entries a comb may use. Both formats end in the same records: an http
// or https URL, the response head, the stored body's place and encoding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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

// One entry a comb may use.
struct CacheRecord {
    std::string url;
    std::string contentTypeText;
    std::string rawHead;   // the response head as stored (NUL-separated lines)
    uint64_t size = 0;     // the stored body's bytes
    int64_t time = 0;      // response time, seconds since 1970
    std::string dataFile;  // the file holding the body, relative to the browser root
    fs::path bodyFile;     // the same, absolute
    uint64_t bodyOffset = 0;
    ContentEncoding encoding = ContentEncoding::Identity;
};

using SkipReport = std::function<void(const std::string& reason)>;

// Reads one cache folder (either format) and appends its usable entries;
// entries left out are reported with their reason. Throws std::runtime_error
// when the folder is no readable cache at all.
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
// body. False (with `reason` set) when the entry is left out.
bool acceptEntry(std::string_view key, std::span<const unsigned char> stream0, uint64_t bodyLength,
                 CacheRecord& record, std::string& reason);

}  // namespace harvix::chromium
