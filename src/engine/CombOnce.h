// One comb of one cache, start to end: open the reader, read the entries,
// comb them, close. `harvix-cli comb`, the coordinator's runs (manual ones
// and those that follow a browser's close, so `harvix-cli watch` too) all
// comb through this one step.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "base/ErrorReport.h"
#include "filter/CombPass.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

// What one comb did.
struct CombRun {
    // Why the cache could not be opened; nothing was combed then.
    std::optional<ErrorReport> openError;
    // The folder the reader read (for a browser whose cache folder the user
    // can name; see CacheReader::cacheLocation).
    std::string cacheLocation;
    // The entries the reading listed, and what it left out.
    uint64_t entriesRead = 0;
    SkipCounts skipped;
    CombResult result;
};

// Opens `reader`, reads its entries and combs them with `snapshot` and
// `options` (see runComb), then closes it. `stop`, when given, is looked at
// before the reading, before each cache record it reads and before each
// entry; what was copied before it was set stays.
CombRun combOnce(CacheReader& reader, const FilterSnapshot& snapshot, const CombOptions& options,
                 CombObserver& observer, IPlatform& platform,
                 const std::atomic<bool>* stop = nullptr);

}  // namespace harvix
