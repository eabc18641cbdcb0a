// The cache2 reader on the reader interface that copies by itself
// (copyEntryData): the bridge until the interface of FirefoxCache2Bridge.h,
// where the core copies, is in place. Compiles to nothing once it is.
#pragma once

#if !__has_include("readers/BodyCopy.h")

#include <cstdint>
#include <string>

#include "readers/CacheReader.h"
#include "readers/cache2/Cache2Folder.h"

namespace harvix {

class FirefoxCache2Bridge : public CacheReader {
public:
    class Entry : public CacheEntry {
    public:
        uint64_t bodyLength = 0;
        ContentEncoding encoding = ContentEncoding::Identity;
    };

    // `folder`: the cache2 folder (holding entries/).
    explicit FirefoxCache2Bridge(const fs::path& folder);

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

#endif
