#include "filter/EntrySave.h"

#include <optional>
#include <unordered_map>

#include "filter/CombPass.h"

namespace harvix {

namespace {

// Turns what the pass tells of each entry into its result.
class SaveObserver : public CombObserver {
public:
    SaveObserver(const std::vector<const CacheEntry*>& entries,
                 std::vector<EntrySaveResult>& results, const SaveProgress& progress)
        : results_(results), progress_(progress) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            positions_.emplace(entries[i], i);
        }
    }

    void entryCombed(uint64_t done, uint64_t total) override {
        reached = done;
        if (progress_) {
            progress_(done, total);
        }
    }

    void keptFile(const CacheEntry& entry, const std::string& path) override {
        EntrySaveResult& result = resultOf(entry);
        result.outcome = EntrySaveResult::Outcome::Saved;
        result.path = path;
    }
    void duplicate(const CacheEntry& entry) override {
        resultOf(entry).outcome = EntrySaveResult::Outcome::Duplicate;
    }
    void copyFailed(const CacheEntry& entry, const std::string& reason) override {
        EntrySaveResult& result = resultOf(entry);
        result.outcome = EntrySaveResult::Outcome::Failed;
        result.reason = reason;
    }
    void error(const ErrorReport& report) override {
        if (!error_) {
            error_ = report;
        }
    }

    void notReached(const CacheEntry& entry) { resultOf(entry).reason = kSaveCancelled; }

    std::optional<ErrorReport> error_;
    uint64_t reached = 0;  // entries the pass has been through

private:
    EntrySaveResult& resultOf(const CacheEntry& entry) { return results_[positions_.at(&entry)]; }

    std::vector<EntrySaveResult>& results_;
    const SaveProgress& progress_;
    std::unordered_map<const CacheEntry*, std::size_t> positions_;
};

}  // namespace

std::vector<EntrySaveResult> saveEntries(const CacheReader& reader,
                                         const std::vector<const CacheEntry*>& entries,
                                         const std::string& folder, const std::string& stem,
                                         bool skipDuplicates, IPlatform& platform,
                                         const SaveProgress& progress,
                                         const std::atomic<bool>* stop, bool siteTree) {
    // One filter item that matches every entry, with the folder and stem.
    FilterItem item;
    item.directoryTemplate = folder;
    item.stem = stem;
    const FilterSnapshot snapshot =
        FilterSnapshot::take({item}, ',', platform.homeFolder(), platform.currentTime());
    CombOptions options;
    options.oneCopy = true;
    options.skipDuplicates = skipDuplicates;
    options.siteTree = siteTree;

    std::vector<const CacheEntry*> chosen;
    std::vector<EntrySaveResult> results(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] != nullptr) {
            chosen.push_back(entries[i]);
            // An empty entry the pass leaves out for want of data was
            // chosen in vain; any other is told by the pass.
            if (entries[i]->size == 0) {
                results[i].reason = "the entry holds no data";
            }
        }
    }
    SaveObserver observer(entries, results, progress);
    const CombResult done = runComb(reader, chosen, snapshot, options, observer, platform, stop);
    if (observer.error_) {
        throw *observer.error_;
    }
    if (!done.foldersReady) {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder, folder);
    }
    // A cancel: the entries the pass never reached were not saved.
    for (std::size_t i = static_cast<std::size_t>(observer.reached); i < chosen.size(); ++i) {
        observer.notReached(*chosen[i]);
    }
    return results;
}

}  // namespace harvix
