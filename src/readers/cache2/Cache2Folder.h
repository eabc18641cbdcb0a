// Lists the entry files of a cache2 folder: one pass over entries/, reading
// each file's tail (never its body), so that a cache of tens of thousands of
// entries lists in a fraction of a second. Files are opened below the cache
// folder only, without following links and without blocking on anything that
// is not a regular file. doomed/ and trash*/ are never read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/ErrorReport.h"
#include "readers/cache2/Cache2Entry.h"
#include "readers/http/BodyDecoder.h"

namespace harvix::cache2 {

namespace fs = std::filesystem;

// What the listing keeps of a listed entry.
struct ListedEntry {
    std::string fileName;     // the entry file's 40-digit name, below entries/
    std::string url;          // as in the key (8-bit bytes)
    std::string contentType;  // Content-Type value as sent (8-bit bytes)
    uint64_t bodyLength = 0;  // the stored bytes of the resource
    uint32_t lastModified = 0;
    uint32_t lastFetched = 0;
    uint32_t expiration = 0;
    uint16_t status = 0;
    ContentEncoding encoding = ContentEncoding::Identity;
};

// Summary of one listing: every file named like an entry is either listed
// or left out under one reason.
struct ListingCounts {
    uint64_t listed = 0;
    std::map<std::string, uint64_t> leftOut;  // reason -> entry files
};

// The entries folder of `cache2Folder` ("<cache2>/entries").
fs::path entriesFolderOf(const fs::path& cache2Folder);

// Reads every entry file in `entriesFolder` (the resolved cache folder
// `root` or a folder below it) in directory order and hands each listable
// one to `listed`. `keepGoing`, when given, is asked before each file; false
// ends the listing there (what was listed stands). Returns the failure
// (the folder and the system's error) when the folder itself cannot be
// listed, nothing otherwise.
std::optional<ErrorReport> listEntries(const fs::path& root, const fs::path& entriesFolder,
                                       const std::function<void(ListedEntry&&)>& listed,
                                       ListingCounts& counts,
                                       const std::function<bool()>& keepGoing = {});

// Reads one entry file's tail by name, in `entriesFolder` below `root`.
// Unreadable (kReasonUnreadableFile) when the file cannot be opened or read.
TailParse readEntryFile(const fs::path& root, const fs::path& entriesFolder,
                        const std::string& fileName);

// True for a name of 40 hexadecimal digits.
bool isEntryFileName(std::string_view name);

}  // namespace harvix::cache2
