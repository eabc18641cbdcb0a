// Reads one simple-cache entry file (`<16 hex>_0`): its header, its key and
// the tail with the two end records and stream 0. The body (stream 1) is
// never read, only located, with the CRC-32 its end record gives for it.
// Also reads the index's record of each entry's last use. Layout in
// SimpleCacheFormat.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "readers/chromium/ByteSource.h"

namespace harvix::chromium {

enum class SimpleEntryProblem {
    None,
    TooShort,          // smaller than a header and two end records
    BadMagic,          // the header's magic number is wrong
    BadVersion,        // an entry version this reader does not know
    BadKey,            // key length past the file or past the limit
    BadEndRecord,      // an end record's magic or stream 0's size is wrong
    ChecksumMismatch,  // stream 0 does not match its CRC-32: being rewritten
    ReadFailed,        // the file could not be read
};

struct SimpleEntryFile {
    std::string key;
    uint64_t bodyOffset = 0;  // stream 1: the body as stored
    uint64_t bodyLength = 0;
    bool bodyHasCrc32 = false;  // stream 1's end record carries its CRC-32
    uint32_t bodyCrc32 = 0;
    uint64_t stream0Offset = 0;
    std::vector<unsigned char> stream0;  // the pickled response info
    // The bytes read last: kept from one entry to the next, so that a
    // folder of many thousand entries is read without an allocation each.
    std::vector<unsigned char> readBuffer;
};

SimpleEntryProblem parseSimpleEntry(const ByteSource& file, SimpleEntryFile& out);

// The last use of an entry, as the index keeps it.
struct IndexedUse {
    uint64_t hash = 0;     // the 16 hex digits of the entry's file names
    int64_t lastUsed = 0;  // µs since 1601; 0 when unknown
};

// The entries `index-dir/the-real-index` names, sorted by hash; nothing when
// the bytes are no index this reader knows or fail their CRC-32.
std::optional<std::vector<IndexedUse>> parseSimpleIndex(std::span<const unsigned char> bytes);

// A short English text for a problem (the reader's skip reasons).
const char* describe(SimpleEntryProblem problem);

// zlib's CRC-32 of `n` bytes, continuing `crc` (0 to start).
uint32_t crc32Of(const unsigned char* bytes, std::size_t n, uint32_t crc = 0);

}  // namespace harvix::chromium
