// Saving chosen cache entries into one folder, for the cache window's "Save
// selected" and harvix-cli's save: the comb's own save step (free numbered
// names from a stem, never over an existing file, Skip Duplicates), as if a
// filter item with that folder and stem matched exactly these entries.
#pragma once

#include <string>
#include <vector>

#include "readers/CacheReader.h"

namespace harvix {

struct EntrySaveResult {
    enum class Outcome { Saved, Duplicate, Failed };
    Outcome outcome = Outcome::Failed;
    std::string path;  // the new file (Saved)
};

// Saves each entry of `entries` (all from `reader`'s reading) into `folder`
// under "<stem><number>.<type>", in order. With `skipDuplicates` a copy equal
// to a file already in the folder is removed again (Duplicate). Throws
// ErrorReport when the folder cannot be made; nothing is saved then. A stem
// with a path separator saves nothing (every entry Failed).
std::vector<EntrySaveResult> saveEntries(CacheReader& reader,
                                         const std::vector<CacheEntry*>& entries,
                                         const std::string& folder, const std::string& stem,
                                         bool skipDuplicates);

}  // namespace harvix
