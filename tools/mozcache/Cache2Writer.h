// Writes Firefox cache2 entry files (the disk cache of Firefox 32 and later)
// for tests, fuzzing, the demo and the benchmarks: the stored body, then the
// metadata (hash, chunk hashes, header of metadata version 1 to 4, key,
// elements, the version-4 trailer word) and the offset word, as Firefox's
// netwerk/cache2 writes them. Besides sound entries it writes the odd ones a
// reader must survive: a wrong hash, an offset word that points anywhere, a
// file cut short while being written, alt-data, unusual keys.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace harvix::mozcache {

namespace fs = std::filesystem;

struct Cache2Entry {
    std::string key;      // the whole key, e.g. ":http://a.org/x" or "O^...,a,:https://..."
    std::string body;     // the stored bytes (already encoded when sent encoded)
    std::string altData;  // bytes after the body (compiled script); adds "alt-data"
    std::vector<std::pair<std::string, std::string>> elements;  // in order
    uint32_t version = 3;
    uint32_t fetchCount = 1;
    uint32_t lastFetched = 1700000000;
    uint32_t lastModified = 1700000000;
    uint32_t frecency = 1000;
    uint32_t expiration = 0xFFFFFFFFu;
    uint32_t flags = 0;
    uint32_t trailerWord = 4;                // version 4's word after the elements
    bool wrongHash = false;                  // store a metadata hash that does not match
    std::optional<uint32_t> offsetWord;      // written instead of the real metadata offset
    std::optional<uint32_t> keySizeWord;     // written instead of the key's size
    std::optional<std::string> altDataInfo;  // the "alt-data" value instead of "1;<offset>,..."
    std::size_t cutBytes = 0;                // leave off this many bytes at the end
    std::string fileName;                    // default: 40 hex digits made from the key
};

// The elements a Firefox HTTP entry carries: request method and response head.
std::vector<std::pair<std::string, std::string>> cache2HttpElements(
    const std::string& responseHead);

// The 40-digit file name Firefox would give a key (its SHA-1, upper-case hex).
std::string cache2FileName(const std::string& key);

// Firefox's CacheHash over bytes.
uint32_t cache2Hash(const std::string& bytes);

// The whole entry file.
std::string buildCache2File(const Cache2Entry& entry);

// Writes the entry into `cache2Folder`/entries (or `subFolder` instead of
// entries, e.g. "doomed"); returns the file's path. Throws WriteError.
fs::path writeCache2Entry(const fs::path& cache2Folder, const Cache2Entry& entry,
                          const std::string& subFolder = "entries");

// Cache2 descriptions: sections [cache2] in the description format of
// Description.h, with the lines
//   url = http://a.org/x        the key becomes prefix + url
//   key = ...                   the whole key
//   partition = (http,a.org)    key prefix "O^partitionKey=%28http%2Ca.org%29,"
//   anonymous = 1, private = 1  tags "a," and "p,"
//   version = 1..4              metadata version (default 4)
//   status = 200                status line code (default 200, "OK")
//   type = image/png            Content-Type
//   encoding = gzip | deflate | raw-deflate | br | zstd   encodes the data
//   header = Name: value        one more head line (repeatable)
//   head = ...                  the whole response head ("none": no element)
//   content-length = N | none   default: the stored size
//   data = ... as in Description.h
//   alt-data = N                N bytes of alternative data after the body
//   alt-data-info = ...         the raw "alt-data" value
//   element = name=value        one more element (repeatable)
//   modified = N, fetched = N, expires = N, frecency = N, flags = N
//   wrong-hash = 1, offset-word = N, cut = N, file = NAME
//   folder = entries | doomed | trash1 ...   where the file goes
// Writes every section's entry below `cache2Folder`; returns how many.
std::size_t writeDescribedCache2(std::istream& description, const fs::path& baseFolder,
                                 const fs::path& cache2Folder);

// A cache2 folder of `count` entries whose bodies add up to about
// `totalBytes`: pictures, style sheets, scripts (some gzip- or br-encoded) and
// larger files, a few odd entries among them. Deterministic for a seed.
// Returns the stored body bytes of the entries a reader lists.
uint64_t writeSyntheticCache2(const fs::path& cache2Folder, std::size_t count, uint64_t totalBytes,
                              uint32_t seed = 1);

}  // namespace harvix::mozcache
