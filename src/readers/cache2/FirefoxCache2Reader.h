// The reader of Firefox's cache2 folder (Firefox 32 and later), beside the
// reader of the old disk cache: both serve the one Firefox browser. It lists
// the entry files from their tails and gives, for each entry, the file, the
// stored length of the resource and its Content-Encoding; the copy itself
// (decoding included) is the core's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/cache2/Cache2Folder.h"
#include "readers/cache2/FirefoxDiscovery.h"

namespace harvix {

class FirefoxCache2Reader : public CacheReader {
public:
    struct Entry : CacheEntry {
        uint64_t bodyLength = 0;
        ContentEncoding encoding = ContentEncoding::Identity;
    };

    // `cache2Folder`: the folder holding entries/ (it may be a link itself).
    explicit FirefoxCache2Reader(const fs::path& cache2Folder);
    // A cache as classifyFirefoxFolder or findFirefoxCache gave it; with
    // format None, open reports the folder looked in.
    explicit FirefoxCache2Reader(FirefoxCacheFolder cache);

    // Resolves the cache folder (root(): the whole cache2 folder, whose
    // doomed/ and trash folders no copy may go into either) and makes sure
    // the entries folder can be listed; throws ErrorReport (MozillaCache,
    // CacheOpen, the cache folder, the folder that failed) otherwise.
    void open() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    BodySource bodySource(const CacheEntry& entry) const override;
    std::string responseHead(const CacheEntry& entry) const override;

    // The cache2 folder read (what the options remember).
    std::string cacheLocation() const override;

private:
    FirefoxCacheFolder cache_;
    fs::path entries_;  // the resolved entries folder (root_ or below it)
};

}  // namespace harvix
