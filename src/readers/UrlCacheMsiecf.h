// The URL cache service on Linux: WinINet's cache index `index.dat`, read
// with libmsiecf. Internet Explorer and Maxthon run under Wine there, and
// Wine keeps the cache in its prefix in the Microsoft layout under a
// signature of its own, which is put right in memory before the library
// sees the file. The index and the cached files are only ever read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "readers/UrlCache.h"

namespace fs = std::filesystem;

class CMsiecfUrlCache : public IUrlCacheService {
public:
    // Indexes larger than this are refused (a real one holds a few megabytes).
    static constexpr uint64_t kMaxIndexSize = 256ull * 1024 * 1024;

    // `location`: an index.dat file, or a folder that holds one; empty means
    // the cache of the Wine prefix in force (see CandidateIndexes).
    explicit CMsiecfUrlCache(fs::path location = {});
    ~CMsiecfUrlCache() override;
    CMsiecfUrlCache(const CMsiecfUrlCache&) = delete;
    CMsiecfUrlCache& operator=(const CMsiecfUrlCache&) = delete;

    // Finds the index, reads it into memory and lets libmsiecf open it.
    bool Open() override;
    void Close() override;
    std::unique_ptr<IUrlCacheEnumeration> FindFirst(UrlCacheEntryInfo& info) override;
    std::string FailureText() const override { return failure_; }

    // The index file in use after a successful Open.
    const fs::path& IndexPath() const { return indexPath_; }

    // Where Wine keeps WinINet's content cache index, in the order they are
    // tried: the current layout, then that of older prefixes.
    static std::vector<fs::path> CandidateIndexes();

    // Turns the FAT date and time of an index record (date in the low half,
    // time in the high half, both as the system's clock gave them, in UTC)
    // into a Windows file time. 0, or a date or time that names no real
    // moment, gives 0.
    static uint64_t FatDateTimeToFileTime(uint32_t fatDateTime);

    struct State;  // the library's handles over the bytes of the index

private:
    fs::path location_;
    fs::path indexPath_;
    std::string failure_;
    std::shared_ptr<State> state_;  // shared with running enumerations
};
