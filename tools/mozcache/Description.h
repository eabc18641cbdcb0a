// Cache descriptions: a small text format that says which records a written
// cache holds, and a generator of large synthetic caches for benchmarks.
//
// A description is a list of sections; '#' starts a comment line, and values
// may use the escapes \r \n \t \0 \\ and \xHH.
//
//   [entry]                 one map record with its data and metadata
//   url = http://a.org/x    the key becomes "HTTP:" + url (unless key is given)
//   key = ...               the whole cache key
//   type = image/png        Content-Type line of the default response head
//   server = ...            Server line (default Apache/2.2.22)
//   header = Name: value    one more head line (repeatable)
//   head = ...              the whole response head; "none": no named values
//   data = png W H | gif W H | bmp W H | jpeg W H | ico W H
//        | webp W H | avif W H | svg W H
//        | text TEXT | random N [SEED] | file PATH | none
//   size = N                data size field (default: the data's length)
//   store = auto | block1 | block2 | block3 | separate     where the data goes
//   meta = auto | block1 | block2 | block3 | separate      where the metadata goes
//   layout = nested | hex | decimal                        names of separate files
//   generation = N, hash = N (0: an empty record), modified = N, fetched = N,
//   expires = N, data-location = N, meta-location = N (raw words; 0x allowed)
//   note = ...              free text for people; the writer ignores it
//
//   [empty]                 one record with hash 0 and no locations
//   [map]  trailing-bytes = N    N bytes after the last record
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "CacheWriter.h"

namespace harvix {

namespace mozcache {

// One [entry] or [empty] section of a description, as read.
struct DescribedEntry {
    Entry entry;
    bool emptyRecord = false;  // an [empty] section
    std::string url;           // the url line, if any
    std::string note;
};

struct Description {
    std::vector<DescribedEntry> records;  // in map order
    std::string trailingBytes;
};

// Reads a description; `baseFolder` resolves "data = file" paths. Throws
// WriteError naming the line of a malformed line.
Description readDescription(std::istream& in, const fs::path& baseFolder);

// Writes the cache that `description` describes into `folder`; returns the
// number of map records written.
std::size_t writeDescribedCache(std::istream& description, const fs::path& baseFolder,
                                const fs::path& folder);

// Writes a cache of `count` entries whose data add up to about `totalBytes`:
// `smallPercent` of them small items in the block files (pictures, style
// sheets, scripts), the rest separate files of varied sizes. Deterministic
// for a given seed. Returns the bytes of data written.
uint64_t writeSyntheticCache(const fs::path& folder, std::size_t count, uint64_t totalBytes,
                             uint32_t seed = 1, unsigned smallPercent = 25);

// The bytes a "data = ..." value describes; `where` names the line in errors.
std::string describedData(const std::string& spec, const fs::path& baseFolder,
                          const std::string& where);

// Decodes the escapes listed above.
std::string unescape(const std::string& text);

}  // namespace mozcache

}  // namespace harvix
