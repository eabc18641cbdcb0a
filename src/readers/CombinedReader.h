// One reading of several stores of one browser: its HTTP cache and the
// caches its pages fill themselves (the Cache API of service workers). Each
// store is a reader of its own; this one opens them all, lists their
// entries one store after the other and hands each entry back to the store
// it came from (CacheEntry::store). Every folder of every store is a cache
// folder no copy may go into.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "readers/CacheReader.h"

namespace harvix {

class CombinedReader : public CacheReader {
public:
    // The first store is the browser's own cache: its failure to open is the
    // one reported when no store opens, and its location is the one the
    // options remember. At most 255 stores.
    explicit CombinedReader(std::vector<std::unique_ptr<CacheReader>> stores);

    // Opens every store; throws the first store's ErrorReport when none
    // opens. root() is the first opened store's root.
    void open() override;
    void close() override;
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts& skipped) override;
    BodySource bodySource(const CacheEntry& entry) const override;
    std::string responseHead(const CacheEntry& entry) const override;
    std::optional<std::string> archiveHead(const CacheEntry& entry) const override;
    std::vector<fs::path> cacheFolders() const override;
    std::string cacheLocation() const override;

    // The stores, in reading order, and whether each opened.
    const std::vector<std::unique_ptr<CacheReader>>& stores() const { return stores_; }
    bool isOpen(std::size_t store) const { return store < open_.size() && open_[store]; }

private:
    const CacheReader& storeOf(const CacheEntry& entry) const;

    std::vector<std::unique_ptr<CacheReader>> stores_;
    std::vector<bool> open_;
};

// The reader of `first` and the stores in `more` that are not null: `first`
// itself when there are none.
std::unique_ptr<CacheReader> combineStores(std::unique_ptr<CacheReader> first,
                                           std::vector<std::unique_ptr<CacheReader>> more);

}  // namespace harvix
