// Saving chosen cache entries into one folder, for the cache window's "Save
// selected" and harvix-cli's save: the comb's own save step (free numbered
// names from a stem, never over an existing file, Skip Duplicates), as if a
// filter item with that folder and stem matched exactly these entries.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

struct EntrySaveResult {
    enum class Outcome { Saved, Duplicate, Failed };
    Outcome outcome = Outcome::Failed;
    std::string path;    // the new file (Saved)
    std::string reason;  // why the copy failed (Failed), as a comb counts it
};

// Saves each entry of `entries` (all from `reader`'s reading) into `folder`
// under "<stem><number>.<type>", in order. With `skipDuplicates` a copy equal
// to a file already in the folder is not kept (Duplicate). Throws
// ErrorReport when the folder fails the folder rule or lies in a cache the
// reader reads, or when the stem cannot stand in a file name; nothing is
// saved (nor made) then. With `siteTree` each entry goes to its URL's
// place in the site's folder tree (filter/SiteTree.h) instead, and the stem
// is not used.
//
// `progress`, when set, is called after each entry with how many are done
// and of how many; `stop`, when given, is looked at before each entry: the
// entries not reached then stay Failed with the reason kSaveCancelled, and
// what was saved stays.
using SaveProgress = std::function<void(uint64_t done, uint64_t total)>;
std::vector<EntrySaveResult> saveEntries(const CacheReader& reader,
                                         const std::vector<const CacheEntry*>& entries,
                                         const std::string& folder, const std::string& stem,
                                         bool skipDuplicates, IPlatform& platform,
                                         const SaveProgress& progress = {},
                                         const std::atomic<bool>* stop = nullptr,
                                         bool siteTree = false);

// The reason of an entry a cancelled save did not reach.
inline constexpr const char* kSaveCancelled = "cancelled";

}  // namespace harvix
