// Reads one simple-cache entry file (`<16 hex>_0`): its header, its key and
// the tail with the two end records and stream 0. The body (stream 1) is
// never read, only located. Layout in SimpleCacheFormat.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "readers/chromium/ByteSource.h"

namespace harvix::chromium {

enum class SimpleEntryProblem {
    None,
    TooShort,      // smaller than a header and two end records
    BadMagic,      // the header's magic number is wrong
    BadVersion,    // an entry version this reader does not know
    BadKey,        // key length past the file or past the limit
    BadEndRecord,  // an end record's magic or stream 0's size is wrong
    ReadFailed,    // the file could not be read
};

struct SimpleEntryFile {
    std::string key;
    uint64_t bodyOffset = 0;  // stream 1: the body as stored
    uint64_t bodyLength = 0;
    std::vector<unsigned char> stream0;  // the pickled response info
};

SimpleEntryProblem parseSimpleEntry(const ByteSource& file, SimpleEntryFile& out);

// A short English text for a problem (the reader's skip reasons).
const char* describe(SimpleEntryProblem problem);

}  // namespace harvix::chromium
