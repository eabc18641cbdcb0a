// The abstract cache reader and the cache entry.
//
// A reader owns the entries of one reading and alone knows where their data
// lies; the filter decides what matches and where it goes, and asks the
// reader to copy. A comb run drives it: TryOpen, LoadEntries, the filter's
// pass (CopyEntry for each saved match), Close, then the reader is deleted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

// One cached file.
struct CacheEntry {
    CacheEntry() = default;
    virtual ~CacheEntry() = default;
    CacheEntry(const CacheEntry&) = delete;
    CacheEntry& operator=(const CacheEntry&) = delete;

    std::string contentTypeText;  // Content-Type value as the server sent it (UTF-8)
    int32_t contentType = 0;      // content-type code 1..18, 0 when not recognised
    int32_t size = 0;             // size of the cached data in bytes
    int64_t time = 0;             // seconds since 1970-01-01 00:00 UTC
    std::string dataFile;         // where the data lies (reader-specific)
    std::string url;              // the source URL
    uint32_t index = 0;           // position in the reader's entries
};

class CacheReader {
public:
    CacheReader() = default;
    virtual ~CacheReader();
    CacheReader(const CacheReader&) = delete;
    CacheReader& operator=(const CacheReader&) = delete;

    // Releases what Open acquired; safe when nothing is open, and repeatedly.
    virtual void close() {}
    // Makes the cache ready for reading; throws ErrorReport on failure.
    virtual void open() {}
    // Appends one entry per cache record the reader accepts.
    virtual void readEntries() = 0;
    // Writes one entry's data to `target`. Returns true when written; throws
    // ErrorReport (the reader's module; FileOpen, FileRead, FileWrite or FileCopy)
    // on failure. With `failIfExists`, an existing target is left alone and
    // the copy fails.
    virtual bool copyEntryData(CacheEntry& entry, const fs::path& target, bool failIfExists) = 0;

    // Open; on ErrorReport closes and returns false (the error was already reported).
    bool tryOpen();
    // ClearEntries, ReadEntries, then numbers the entries 0, 1, 2, ...
    void loadEntries();
    // Deletes every entry.
    void clearEntries();
    // CopyEntryData with failIfExists cleared; a ErrorReport becomes false.
    bool copyEntry(const fs::path& target, CacheEntry& entry);

    // Entries in the order the reader produced them; the filter visits them so.
    std::vector<std::unique_ptr<CacheEntry>> entries;
    // The folder of the cache files (Firefox reader only).
    std::string cacheFolder;
};

}  // namespace harvix
