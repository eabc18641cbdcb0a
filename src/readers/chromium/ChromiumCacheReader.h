// The cache reader of the Chromium family: Chromium, Google Chrome,
// Microsoft Edge, Brave, Vivaldi and Opera. One reading covers every profile
// of every cache root the browser has (or the one folder the user named), in
// either on-disk format (readers/chromium/).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/chromium/ChromiumCache.h"

namespace harvix {

struct ChromiumCacheEntry : CacheEntry {
    fs::path bodyFile;  // absolute, below the reader's root
    uint64_t bodyOffset = 0;
    ContentEncoding encoding = ContentEncoding::Identity;
    std::string rawHead;  // NUL-separated lines as stored
};

class ChromiumCacheReader : public CacheReader {
public:
    // `browser` is the family member's word (chromium, chrome, edge, brave,
    // vivaldi, opera); `location` a cache folder, profile folder or browser
    // root the user named; without one, every folder of `places` (the
    // browser's cache roots on this machine, per install) is looked at.
    ChromiumCacheReader(std::string browser, std::string location,
                        std::vector<fs::path> places = {});

    void open() override;
    void close() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    BodySource bodySource(const CacheEntry& entry) const override;
    std::string responseHead(const CacheEntry& entry) const override;

    // The family member's word.
    const std::string& browser() const { return browser_; }
    // The cache folders the last open found.
    const std::vector<chromium::CacheFolder>& foundFolders() const { return folders_; }

private:
    std::string browser_;
    std::string location_;
    std::vector<fs::path> places_;
    std::vector<chromium::CacheFolder> folders_;
};

}  // namespace harvix
