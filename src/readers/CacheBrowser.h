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

namespace fs = std::filesystem;

class CCacheBrowser {
public:
    // One cached file.
    class CCacheElement {
    public:
        CCacheElement() = default;
        virtual ~CCacheElement() = default;
        CCacheElement(const CCacheElement&) = delete;
        CCacheElement& operator=(const CCacheElement&) = delete;

        std::string contentTypeText;  // Content-Type value as the server sent it (UTF-8)
        int32_t contentType = 0;      // content-type code 1..18, 0 when not recognised
        int32_t size = 0;             // size of the cached data in bytes
        int64_t time = 0;             // seconds since 1970-01-01 00:00 UTC
        std::string dataFile;         // where the data lies (reader-specific)
        std::string url;              // the source URL
        uint32_t index = 0;           // position in the reader's entries
    };

    CCacheBrowser() = default;
    virtual ~CCacheBrowser();
    CCacheBrowser(const CCacheBrowser&) = delete;
    CCacheBrowser& operator=(const CCacheBrowser&) = delete;

    // Releases what Open acquired; safe when nothing is open, and repeatedly.
    virtual void Close() {}
    // Makes the cache ready for reading; throws CError on failure.
    virtual void Open() {}
    // Appends one entry per cache record the reader accepts.
    virtual void ReadEntries() = 0;
    // Writes one entry's data to `target`. Returns true when written; throws
    // CError (the reader's module; FileOpen, FileRead, FileWrite or FileCopy)
    // on failure. With `failIfExists`, an existing target is left alone and
    // the copy fails.
    virtual bool CopyEntryData(CCacheElement& entry, const fs::path& target, bool failIfExists) = 0;

    // Open; on CError closes and returns false (the error was already reported).
    bool TryOpen();
    // ClearEntries, ReadEntries, then numbers the entries 0, 1, 2, ...
    void LoadEntries();
    // Deletes every entry.
    void ClearEntries();
    // CopyEntryData with failIfExists cleared; a CError becomes false.
    bool CopyEntry(const fs::path& target, CCacheElement& entry);

    // Entries in the order the reader produced them; the filter visits them so.
    std::vector<std::unique_ptr<CCacheElement>> entries;
    // The folder of the cache files (Firefox reader only).
    std::string cacheFolder;
};
