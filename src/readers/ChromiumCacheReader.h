// The cache reader of the Chromium family (Chromium, Google Chrome,
// Microsoft Edge, Brave, Vivaldi, Opera) behind the reader interface the comb
// run and harvix-cli use: every profile of every cache root of the browser,
// or the one folder the user named, in either on-disk format.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/chromium/ChromiumCache.h"

namespace harvix {

class ChromiumCacheReader : public CacheReader {
public:
    class Element : public CacheEntry {
    public:
        fs::path bodyFile;
        uint64_t bodyOffset = 0;
        uint64_t bodyLength = 0;
        ContentEncoding encoding = ContentEncoding::Identity;
    };

    // `browser`: chromium, chrome, edge, brave, vivaldi or opera; `given`: a
    // cache folder, profile folder or browser root (empty: discovery below
    // the user's cache and home folders).
    ChromiumCacheReader(std::string browser, std::string given);

    void open() override;
    void close() override;
    void readEntries() override;
    bool copyEntryData(CacheEntry& entry, const fs::path& target, bool failIfExists) override;

    // Why the last Open found nothing (for harvix-cli).
    const std::string& failureText() const { return failure_; }
    // What the last reading left out, by reason.
    const std::map<std::string, uint64_t>& skipped() const { return skipped_; }

private:
    std::string browser_;
    std::string given_;
    std::string failure_;
    std::vector<harvix::chromium::CacheFolder> folders_;
    std::map<std::string, uint64_t> skipped_;
};

}  // namespace harvix
