// The reader of Firefox's cache2 folder (Firefox 32 and later), beside the
// reader of the old disk cache: both serve the one Firefox browser.
#pragma once

#include <cstdint>
#include <string>

#include "readers/CacheBrowser.h"
#include "readers/cache2/Cache2Folder.h"

class FirefoxCache2Reader : public CCacheBrowser {
public:
    class Entry : public CCacheBrowser::CCacheElement {
    public:
        uint64_t bodyLength = 0;
        harvix::ContentEncoding encoding = harvix::ContentEncoding::Identity;
    };

    // `folder`: the cache2 folder (holding entries/).
    explicit FirefoxCache2Reader(const fs::path& folder);

    void Open() override;
    void ReadEntries() override;
    bool CopyEntryData(CCacheElement& entry, const fs::path& target, bool failIfExists) override;

    // What the last reading left out, and why.
    const harvix::cache2::ListingCounts& counts() const { return counts_; }

private:
    fs::path folder_;
    harvix::cache2::ListingCounts counts_;
};
