// The cache reader of the Chromium family: Chromium, Google Chrome,
// Microsoft Edge, Brave, Vivaldi and Opera. One reading covers every profile
// of every cache root the browser has (or the one folder the user named), in
// either on-disk format (readers/chromium/). Each cache folder is its own
// root: an entry's body is opened below the folder it was listed from, and
// no copy may go into any folder read.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/chromium/ChromiumCache.h"

namespace harvix {

// Kept small: a listing holds one for every entry of every profile.
struct ChromiumCacheEntry : CacheEntry {
    uint32_t folder = 0;  // the cache folder it was read from (the reader's cacheFolders())
    ContentEncoding encoding = ContentEncoding::Identity;
    chromium::StoredPlace place;  // body and response head in that folder
};

class ChromiumCacheReader : public CacheReader {
public:
    // `browser` is the family member's word (chromium, chrome, edge, brave,
    // vivaldi, opera); `location` a cache folder, profile folder or browser
    // root the user named; without one, every folder of `places` (the
    // browser's cache roots on this machine, per install) is looked at.
    ChromiumCacheReader(std::string browser, std::string location,
                        std::vector<fs::path> places = {});

    // Finds the cache folders; root() is the first of them. Throws
    // ErrorReport (ChromiumCache, CacheOpen) when there is none.
    void open() override;
    void close() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    BodySource bodySource(const CacheEntry& entry) const override;
    std::string responseHead(const CacheEntry& entry) const override;
    // Exactly the cache folders the last open found, resolved.
    std::vector<fs::path> cacheFolders() const override { return resolved_; }

    // The family member's word.
    const std::string& browser() const { return browser_; }
    // The cache folders the last open found.
    const std::vector<chromium::CacheFolder>& foundFolders() const { return folders_; }

private:
    const ChromiumCacheEntry& chromiumEntry(const CacheEntry& entry) const;

    std::string browser_;
    std::string location_;
    std::vector<fs::path> places_;
    std::vector<chromium::CacheFolder> folders_;
    std::vector<fs::path> resolved_;  // folders_[i].folder, resolved
};

}  // namespace harvix
