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

#include "readers/UrlCacheService.h"

namespace harvix {

namespace fs = std::filesystem;

class MsiecfUrlCache : public UrlCacheService {
public:
    // Indexes larger than this are refused (a real one holds a few megabytes).
    static constexpr uint64_t kMaxIndexSize = 256ull * 1024 * 1024;

    // `location`: an index.dat file, or a folder that holds one; empty means
    // the cache of the Wine prefix in force (see CandidateIndexes).
    explicit MsiecfUrlCache(fs::path location = {});
    ~MsiecfUrlCache() override;
    MsiecfUrlCache(const MsiecfUrlCache&) = delete;
    MsiecfUrlCache& operator=(const MsiecfUrlCache&) = delete;

    // Finds the index, reads it into memory and lets libmsiecf open it.
    bool open() override;
    void close() override;
    std::unique_ptr<UrlCacheEnumeration> findFirst(UrlCacheEntryInfo& info) override;
    std::string failureText() const override { return failure_; }
    // The folder of the index: its cache directories hold the cached files.
    fs::path cacheFolder() const override { return indexPath_.parent_path(); }

    // The index file in use after a successful Open.
    const fs::path& indexPath() const { return indexPath_; }

    // Where Wine keeps WinINet's content cache index, in the order they are
    // tried: the current layout, then that of older prefixes.
    static std::vector<fs::path> candidateIndexes();

    // Turns the FAT date and time of an index record (date in the low half,
    // time in the high half, both as the system's clock gave them, in UTC)
    // into a Windows file time. 0, or a date or time that names no real
    // moment, gives 0.
    static uint64_t fatDateTimeToFileTime(uint32_t fatDateTime);

    struct State;  // the library's handles over the bytes of the index

private:
    fs::path location_;
    fs::path indexPath_;
    std::string failure_;
    std::shared_ptr<State> state_;  // shared with running enumerations
};

}  // namespace harvix
