// Chromium cache descriptions: a small text format that says which entries
// a written cache holds. '#' starts a comment line; values may use the
// escapes of the Firefox cache writer (\r \n \t \0 \\ \xHH).
//
//   [cache]
//   format = simple | blockfile       (default simple)
//   table = N                         block file: buckets in the index (power of two)
//   index = bad-magic | version N | no-data-1
//
//   [entry]
//   url = http://a.org/x.png          key "1/0/_dk_<site> <site> <url>" unless key is given
//   key = ...                         the whole key
//   status = 200                      status line's code (default 200)
//   type = image/png                  Content-Type line
//   header = Name: value              one more header line (repeatable)
//   body = text TEXT | random N [SEED] | png W H | gif W H | jpeg W H | bmp W H
//        | ico W H | webp W H | avif W H | svg W H | file PATH | none
//   content-length = N | none         Content-Length line (default: the body's length)
//   time = N                          response (and request) time, seconds since 1970
//   lastused = N                      last use, seconds since 1970: the simple cache's
//                                     index, the block files' rankings node (default:
//                                     none in the index, the response time in the node)
//   truncated = yes                   the response info's truncated flag
//   sparse = yes                      a sparse (range) entry: simple, the body in a `_s`
//                                     file; block file, the parent flag
//   ranges = OFFSET:LENGTH ...        simple, sparse: the body's pieces written as ranges,
//                                     in this order (default: one of the whole body)
//   external = yes                    block file: the body in an f_ file however small
//   sha256 = no                       simple: no key SHA-256 before the last end record
//   crc = no                          simple: end records without their streams' CRC-32
//   note = ...                        free text for people; the writer ignores it
//   damage = bad-magic | bad-version | bad-end | bad-key-length | stream0-too-large
//          | cut N | body-past-file | loop-chain | bad-pickle
//          | being-written             simple: the body's CRC-32 does not match;
//                                      block file: the rankings node is dirty
//          | head-crc                  simple: stream 0's CRC-32 does not match
//          | range-crc                 simple, sparse: the last range's CRC-32 does not match
#pragma once

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "ChromeCacheWriter.h"

namespace harvix::chromecache {

struct Description {
    bool blockFile = false;
    BlockFileOptions options;
    std::vector<Entry> entries;
};

// Reads a description; `baseFolder` resolves "body = file" paths. Throws
// WriteError naming the line of a malformed line.
Description readDescription(std::istream& in, const fs::path& baseFolder);

// Writes the described cache into `folder`; returns the number of entries.
std::size_t writeDescribedCache(std::istream& in, const fs::path& baseFolder,
                                const fs::path& folder);

}  // namespace harvix::chromecache
