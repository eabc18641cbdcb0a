#include "filter/EntrySave.h"

#include <cstdint>

#include "filter/FilterSet.h"

namespace harvix {

namespace {

void rememberKeptFile(std::intptr_t context, const std::string& path) {
    reinterpret_cast<std::vector<std::string>*>(context)->push_back(path);
}

}  // namespace

std::vector<EntrySaveResult> saveEntries(CacheReader& reader,
                                         const std::vector<CacheEntry*>& entries,
                                         const std::string& folder, const std::string& stem,
                                         bool skipDuplicates) {
    FilterSet set;
    auto item = std::make_unique<FilterItem>();
    item->directoryTemplate = folder;
    item->fileNameDummy = stem;
    FilterItem& target = *item;
    set.items.push_back(std::move(item));
    set.skipDuplicates = skipDuplicates;
    set.oneCopy = true;
    set.reader = &reader;
    std::vector<std::string> kept;
    set.keptFileCallback = &rememberKeptFile;
    set.keptFileContext = reinterpret_cast<std::intptr_t>(&kept);
    set.prepareTargetFolders();

    std::vector<EntrySaveResult> results;
    results.reserve(entries.size());
    for (CacheEntry* entry : entries) {
        EntrySaveResult result;
        const std::size_t before = kept.size();
        if (entry != nullptr && set.saveEntry(target, *entry)) {
            if (kept.size() > before) {
                result.outcome = EntrySaveResult::Outcome::Saved;
                result.path = kept.back();
            } else {
                result.outcome = EntrySaveResult::Outcome::Duplicate;
            }
        }
        results.push_back(std::move(result));
    }
    return results;
}

}  // namespace harvix
