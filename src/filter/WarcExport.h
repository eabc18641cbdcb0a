// Writing a cache's HTTP responses as a web archive (WARC 1.1), the format
// web-archiving tools read: a "warcinfo" record, then one "response" record
// per entry holding the status line and the response headers the cache
// stored and the body exactly as the server sent it (still in its
// Content-Encoding). Each record carries the entry's URL and time and SHA-1
// digests of its block and payload, and is one gzip member of its own in a
// ".warc.gz" file (a file named ".warc" is written plain).
//
// The archive is written as an anonymous new file and named only when it is
// complete: an existing file is never replaced, and a failed export leaves
// nothing behind. The cache is only read.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "filter/FilterSet.h"
#include "readers/CacheReader.h"

namespace harvix {

struct WarcOptions {
    bool gzip = true;         // one gzip member per record
    std::string software;     // "harvix-cli 1.0", for the warcinfo record
    std::string description;  // what was read, for the warcinfo record
    std::time_t now = 0;      // the export's time: the warcinfo record's date, and
                              // the date of an entry that keeps no time of its own
    // When set, only the entries an enabled item of these takes as a comb
    // does, picture size and the decoded size of an encoded body included
    // (filter/CopyTests.h: measured on a scratch copy beside the archive).
    const std::vector<FilterItem>* filter = nullptr;
};

struct WarcExportResult {
    std::string path;      // the archive written
    uint64_t records = 0;  // response records written
    // Entries not written, by reason: no stored response head, a body not
    // stored as the server sent it (the URL cache), a status
    // other than 200 or 203.
    std::map<std::string, uint64_t> leftOut;
    // Entries whose bytes could not be read, by reason (as a comb counts
    // failed copies).
    std::map<std::string, uint64_t> failed;
};

// True when `file` names a plain (not gzip) archive: it ends in ".warc".
bool isPlainWarcName(const std::string& file);

// Writes `entries` (from `reader`'s reading; the reader stays open) into
// the new archive `file` (absolute). Throws ErrorReport: FileWrite with
// EEXIST when `file` exists (nothing is written then), TargetInCache when it
// would lie in one of the reader's caches, CreateFolder when no file can be
// made in its folder, FileWrite when the archive cannot be written or named.
WarcExportResult exportWarc(const CacheReader& reader, std::span<const CacheEntry* const> entries,
                            const std::string& file, const WarcOptions& options);

// "sha1:" and the base-32 form (RFC 4648, upper case, padded) of the SHA-1
// of `bytes`, as WARC digests are written.
std::string warcSha1(std::string_view bytes);

}  // namespace harvix
