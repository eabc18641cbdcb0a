#include "filter/EntrySave.h"

#include <optional>

#include "filter/CombPass.h"

namespace harvix {

namespace {

// The chosen entries as a reading of their own: each stands for an entry of
// the real reading, and the real reader says where its bytes lie.
struct ChosenEntry : CacheEntry {
    const CacheEntry* original = nullptr;
    std::size_t position = 0;  // in the caller's list
};

class ChosenEntries : public CacheReader {
public:
    ChosenEntries(const CacheReader& reader, const std::vector<const CacheEntry*>& chosen)
        : reader_(reader) {
        root_ = reader.root();
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            if (chosen[i] == nullptr) {
                continue;
            }
            const CacheEntry& entry = *chosen[i];
            auto copy = std::make_unique<ChosenEntry>();
            copy->url = entry.url;
            copy->contentTypeText = entry.contentTypeText;
            copy->contentType = entry.contentType;
            copy->size = entry.size;
            copy->time = entry.time;
            copy->dataFile = entry.dataFile;
            copy->index = entry.index;
            copy->original = &entry;
            copy->position = i;
            entries.push_back(std::move(copy));
        }
    }

    void open() override {}
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>&, SkipCounts&) override {}
    BodySource bodySource(const CacheEntry& entry) const override {
        const auto& chosen = static_cast<const ChosenEntry&>(entry);
        // The pass copies the entries one after another: what it reports
        // next concerns this one.
        current_ = chosen.position;
        return reader_.bodySource(*chosen.original);
    }
    std::vector<fs::path> cacheFolders() const override { return reader_.cacheFolders(); }
    std::string responseHead(const CacheEntry& entry) const override {
        return reader_.responseHead(*static_cast<const ChosenEntry&>(entry).original);
    }

    std::size_t current() const { return current_; }

private:
    const CacheReader& reader_;
    mutable std::size_t current_ = 0;
};

// Turns what the pass tells into one result per chosen entry: a kept file
// belongs to the entry copied last; a copy neither kept nor failed was
// dropped as a duplicate.
class SaveObserver : public CombObserver {
public:
    SaveObserver(const ChosenEntries& reader, std::vector<EntrySaveResult>& results,
                 const SaveProgress& progress)
        : reader_(reader), results_(results), progress_(progress) {}

    void entryCombed(uint64_t done, uint64_t total) override {
        reached = done;
        if (progress_) {
            progress_(done, total);
        }
    }
    void keptFile(const std::string& path) override {
        EntrySaveResult& result = results_[reader_.current()];
        result.outcome = EntrySaveResult::Outcome::Saved;
        result.path = path;
    }
    void copyFailed(const CacheEntry& entry, const std::string& reason) override {
        EntrySaveResult& result = results_[static_cast<const ChosenEntry&>(entry).position];
        result.outcome = EntrySaveResult::Outcome::Failed;
        result.reason = reason;
    }
    void error(const ErrorReport& report) override {
        if (!error_) {
            error_ = report;
        }
    }

    std::optional<ErrorReport> error_;
    uint64_t reached = 0;  // entries the pass has been through

private:
    const ChosenEntries& reader_;
    std::vector<EntrySaveResult>& results_;
    const SaveProgress& progress_;
};

}  // namespace

std::vector<EntrySaveResult> saveEntries(const CacheReader& reader,
                                         const std::vector<const CacheEntry*>& entries,
                                         const std::string& folder, const std::string& stem,
                                         bool skipDuplicates, const SaveProgress& progress,
                                         const std::atomic<bool>* stop) {
    // One filter item that matches every entry, with the folder and stem.
    FilterItem item;
    item.directoryTemplate = folder;
    item.fileNameDummy = stem;
    const FilterSnapshot snapshot = FilterSnapshot::take({item}, ',');
    CombOptions options;
    options.oneCopy = true;
    options.skipDuplicates = skipDuplicates;

    ChosenEntries chosen(reader, entries);
    // Until the pass says otherwise, a chosen entry counts as a duplicate:
    // the pass copies every one, and a copy it neither keeps nor reports as
    // failed was equal to a file in the folder.
    std::vector<EntrySaveResult> results(entries.size());
    for (const auto& entry : chosen.entries) {
        results[static_cast<const ChosenEntry&>(*entry).position].outcome =
            EntrySaveResult::Outcome::Duplicate;
    }
    SaveObserver observer(chosen, results, progress);
    const CombResult done = runComb(chosen, snapshot, options, observer, stop);
    if (observer.error_) {
        throw *observer.error_;
    }
    if (!done.foldersReady) {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder, folder);
    }
    // A cancel: the entries the pass never reached were not saved.
    for (std::size_t i = static_cast<std::size_t>(observer.reached); i < chosen.entries.size();
         ++i) {
        EntrySaveResult& result =
            results[static_cast<const ChosenEntry&>(*chosen.entries[i]).position];
        result.outcome = EntrySaveResult::Outcome::Failed;
        result.reason = kSaveCancelled;
    }
    return results;
}

}  // namespace harvix
