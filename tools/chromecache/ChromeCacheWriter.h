// Writes Chromium HTTP caches: the simple cache (one `<16 hex>_0` file per
// entry) and the block-file cache (index, data_0..data_3, f_xxxxxx), with the
// odd and damaged entries a reader must survive. The layouts are Chromium's
// (see src/readers/chromium/SimpleCacheFormat.h and BlockFileFormat.h); the
// writer keeps its own copy of the numbers so that a wrong constant in the
// reader cannot hide itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvix::chromecache {

namespace fs = std::filesystem;

class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Damage written into one entry.
enum class Damage {
    None,
    BadMagic,         // simple: header magic; block file: entry's key length huge
    BadVersion,       // simple: entry version 4
    BadEndRecord,     // simple: stream 1's end record magic
    BadKeyLength,     // key length past the file / past the entry's blocks
    Stream0TooLarge,  // simple: stream 0 size past the file
    CutEnd,           // simple: file cut by `cutBytes` at its end
    BodyPastFile,     // block file: stream 1 address past its block file / external file cut
    LoopChain,        // block file: the entry's next points at itself
    BadPickle,        // stream 0 pickle whose header string runs past its end
    BeingWritten,     // simple: the body differs from its CRC-32; block file: a dirty rankings node
    HeadCrc,          // simple: stream 0 differs from its CRC-32
    RangeCrc,         // simple, sparse: the last range's data differs from its CRC-32
};

// A piece of an entry's body written as one range of its `_s` file.
struct Range {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct Entry {
    std::string key;            // the whole cache key
    std::string head;           // raw header lines, each ending in NUL ("HTTP/1.1 200 OK\0...\0")
    std::string body;           // stream 1 as stored
    std::string stream0;        // simple: when set, stream 0 as it is (a service-worker
                                // cache's metadata) instead of the pickled response info
    int64_t requestTime = 0;    // seconds since 1970
    int64_t responseTime = 0;   // seconds since 1970
    int64_t lastUsed = 0;       // simple: the index's last use, seconds since 1970; 0 unknown
    bool truncated = false;     // the response info's truncated flag
    bool extraFlags = true;     // write the extra-flags word and the original response time
    bool sparse = false;        // simple: the body in a `_s` file beside it, stream 1 empty;
                                // block file: the parent flag
    std::vector<Range> ranges;  // simple, sparse: the ranges written, in this order (pieces of
                                // `body`; bytes none holds are missing); empty: one of all
    bool keySha256 = true;      // simple: the key's SHA-256 before the last end record
    bool crc32 = true;          // simple: end records carry their stream's CRC-32
    bool externalBody = false;  // block file: body in an f_ file even when small
    Damage damage = Damage::None;
    uint32_t cutBytes = 0;
};

// "1/0/_dk_<site> <site> <url>" for a URL, as Chromium's split cache keys it.
std::string splitCacheKey(const std::string& url);
// Header lines ("Content-Type: x") after a status line, NUL-separated.
std::string rawHead(int status, const std::vector<std::string>& headerLines);
// Stream 0: the pickled response info of an entry.
std::string pickleResponseInfo(const Entry& entry);
// Protocol-buffer fields as Chromium writes a service-worker store's index
// and entry metadata: a varint, a length-delimited field, a varint field.
std::string protoVarint(uint64_t value);
std::string protoField(uint32_t number, const std::string& bytes);
std::string protoNumber(uint32_t number, uint64_t value);

// The simple cache's file name stem (16 hex digits) of a key.
std::string entryHashName(const std::string& key);

// Writes a simple cache into `folder` (made when missing): `index`,
// `index-dir/the-real-index` and one `_0` file per entry. Returns the files' names.
std::vector<std::string> writeSimpleCache(const fs::path& folder,
                                          const std::vector<Entry>& entries);

struct BlockFileOptions {
    uint32_t tableLength = 1024;  // buckets in the index (0 writes 0: the default 65536)
    uint32_t indexVersion = 0x30000;
    bool badIndexMagic = false;
    bool missingDataFiles = false;  // leave data_1 out
};
// Writes a block-file cache into `folder`.
void writeBlockFileCache(const fs::path& folder, const std::vector<Entry>& entries,
                         const BlockFileOptions& options = {});

// A synthetic cache of `count` entries with bodies of about `bodyBytes`
// bytes each (half to one and a half times; with `mixed` a tenth to twice,
// as Firefox's synthetic caches have them), http URLs on a few sites;
// heads padded to `headBytes` when it is larger than theirs; deterministic.
std::vector<Entry> syntheticEntries(std::size_t count, std::size_t bodyBytes, uint32_t seed = 1,
                                    std::size_t headBytes = 0, bool mixed = false);

// zlib's CRC-32 of `bytes` (written here bit by bit from the polynomial, so
// that the reader's use of zlib is checked against another hand).
uint32_t crc32Of(const std::string& bytes);

}  // namespace harvix::chromecache
