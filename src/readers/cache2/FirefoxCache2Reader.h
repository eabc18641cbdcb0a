// The reader of Firefox's cache2 folder (Firefox 32 and later), beside the
// reader of the old disk cache: both serve the one Firefox browser.
#pragma once

#include <cstdint>
#include <string>

#include "readers/CacheReader.h"
#include "readers/cache2/Cache2Folder.h"

namespace harvix {

class FirefoxCache2Reader : public CacheReader {
public:
    class Entry : public CacheEntry {
    public:
        uint64_t bodyLength = 0;
        ContentEncoding encoding = ContentEncoding::Identity;
    };

    // `folder`: the cache2 folder (holding entries/).
    explicit FirefoxCache2Reader(const fs::path& folder);

    void open() override;
    void readEntries() override;
    bool copyEntryData(CacheEntry& entry, const fs::path& target, bool failIfExists) override;

    // What the last reading left out, and why.
    const cache2::ListingCounts& counts() const { return counts_; }

private:
    fs::path folder_;
    cache2::ListingCounts counts_;
};

}  // namespace harvix
