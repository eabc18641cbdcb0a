// The reader of Firefox's service-worker caches (the Cache API): every
// origin's caches.sqlite below a profile's storage/default folder, each
// entry's body in the morgue beside it, stored in snappy's framing (which
// the copy undoes). The profile's storage/default folder is the root.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "readers/CacheReader.h"
#include "readers/cache2/FirefoxDiscovery.h"

namespace harvix {

struct DomCacheEntry : CacheEntry {
    uint32_t profile = 0;  // the store (profile) it was read from
    // The stored head, kept here: read again it would cost the whole
    // database (and its log) for one entry.
    std::string head;
};

class DomCacheReader : public CacheReader {
public:
    // `location`: a profile folder, its storage/default folder, or an
    // origin folder or origin cache folder below that (its whole
    // storage/default is read); without one, the profiles in `profiles`.
    explicit DomCacheReader(std::string location, std::vector<fs::path> profiles = {});

    // Finds the stores; throws ErrorReport (MozillaCache, CacheOpen) when
    // there is none.
    void open() override;
    void close() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    BodySource bodySource(const CacheEntry& entry) const override;
    std::string responseHead(const CacheEntry& entry) const override;
    // None: the bodies are stored decoded and framed.
    std::optional<std::string> archiveHead(const CacheEntry&) const override {
        return std::nullopt;
    }
    std::vector<fs::path> cacheFolders() const override { return resolved_; }

private:
    struct Store {
        fs::path profile;  // what dataFile is relative to
        fs::path folder;   // <profile>/storage/default
    };
    void readOrigin(uint32_t store, const fs::path& cacheFolder,
                    std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped);

    std::string location_;
    std::vector<fs::path> profiles_;
    std::vector<Store> stores_;
    std::vector<fs::path> resolved_;
};

// The profile folder (storage/default) a given folder names: see the
// constructor's `location`. Empty when it holds no store.
fs::path domCacheStoreOf(const fs::path& given);

// The profile folder of a Firefox local (cache) folder: where profiles.ini
// places the profile whose local folder it is, else the folder itself. Empty
// when neither holds a store.
fs::path firefoxProfileOfLocalFolder(const FirefoxPlaces& places, const fs::path& local);

}  // namespace harvix
