// The URL cache service on Linux: WinINet's cache index `index.dat`, read
// with libmsiecf. Internet Explorer and Maxthon run under Wine there, and
// Wine keeps the cache in its prefix in the Microsoft layout under a
// signature of its own. The index is read into memory, put right there
// (UrlCacheIndexRepair.h) and handed to the library through a memory handle
// (BfioMemoryHandle.h). The index and the cached files are only ever read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "readers/UrlCacheService.h"

namespace harvix {

namespace fs = std::filesystem;

// The Wine prefix and the user whose WinINet cache is looked for there.
struct WineUser {
    fs::path prefix;   // $WINEPREFIX, else ~/.wine
    std::string name;  // the Windows user name Wine gives the user
};

class MsiecfUrlCache : public UrlCacheService {
public:
    // Indexes larger than this are refused (a real one holds a few megabytes).
    static constexpr uint64_t kMaxIndexSize = 256ull * 1024 * 1024;

    // `location`: an index.dat file, or a folder that holds one; empty means
    // the cache of `wine` (see candidateIndexes).
    explicit MsiecfUrlCache(fs::path location, WineUser wine = {});
    ~MsiecfUrlCache() override;
    MsiecfUrlCache(const MsiecfUrlCache&) = delete;
    MsiecfUrlCache& operator=(const MsiecfUrlCache&) = delete;

    // Finds the index, reads it into memory and lets libmsiecf open it;
    // throws ErrorReport (IECache, CacheOpen) when that fails: ENOENT (no
    // index where it was looked for), the error of opening or reading it,
    // EFBIG (larger than kMaxIndexSize), EBADMSG (not a URL cache index).
    void open() override;
    void close() override;
    std::unique_ptr<UrlCacheEnumeration> findFirst(UrlCacheEntryInfo& info) override;
    // The folder of the index: its cache directories hold the cached files.
    fs::path cacheFolder() const override { return indexPath_.parent_path(); }

    // The index file in use after a successful open.
    const fs::path& indexPath() const { return indexPath_; }

    // Where Wine keeps WinINet's content cache index, in the order they are
    // tried: the current layout, then that of older prefixes.
    // No index is looked for under a user name that is no plain name.
    static std::vector<fs::path> candidateIndexes(const WineUser& wine);

    struct State;  // the library's handles over the bytes of the index

private:
    fs::path location_;
    WineUser wine_;
    fs::path indexPath_;
    std::shared_ptr<State> state_;  // shared with running enumerations
};

}  // namespace harvix
