// The comb pass: matches the entries of one cache reading against a filter
// snapshot and copies every match into its item's target folder under the
// next free name.
//
// A run combs a snapshot (FilterSnapshot) taken when it starts: the items
// with their parsed URL parts and their target folders expanded once (the
// date and time of the run's start, "~/" made absolute, the path
// normalised). Nothing the user edits meanwhile reaches it. It reports
// through a CombObserver and returns what it did.
//
// Every copy is created anonymously in the target folder (in the site's
// tree, in the held folder of its URL's path: filter/SiteTree.h), filled
// through copyBody, measured (picture size, and the size of a decoded body)
// and compared (Skip Duplicates) while it has no name, and only then linked
// under the next free name (TargetFolder); a name taken meanwhile (by the
// user or another comb) is never replaced, the next number is tried. So a
// run counts exactly the files it created.
//
// The copies are made on a few worker threads, a little ahead of the pass:
// the calling thread takes the entries' copies in entry order and alone
// compares and names them and tells the observer, so the names, the counts
// and the reports are those of copying one entry after the other. Only the
// readers' bodySource (const), making the folders and the copying itself
// run on the workers (filter/CopyPool.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "base/ErrorReport.h"
#include "filter/FilterSet.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace fs = std::filesystem;

// The options a run reads.
struct CombOptions {
    bool oneCopy = true;         // an entry goes to the first item that keeps it
    bool skipDuplicates = true;  // a copy equal to a file in its folder is dropped
    int64_t sinceTime = 0;       // 0: every entry; else entries at or after this time
    bool siteTree = false;       // every item saves at the URL's path (filter/SiteTree.h)
    // Threads that make the copies ahead of the pass; 0 makes each copy on
    // the calling thread when its entry comes.
    unsigned copyWorkers = kDefaultCopyWorkers;

    static constexpr unsigned kDefaultCopyWorkers = 2;
};

// The filter items of one run, copied from the filter set at its start.
struct FilterSnapshot {
    // The items in their order, with `urlParts` parsed and `directory` the
    // expanded and normalised target folder.
    std::vector<FilterItem> items;
    // The moment the date and time templates were read.
    std::time_t takenAt = 0;

    // Copies the items of `set`, expanding every folder with the date and
    // time of `now` (read once for the whole run) and "~/" with `home`.
    static FilterSnapshot take(const FilterSet& set, const fs::path& home, std::time_t now);
    // The same from a copy of the items (their URL parts are parsed with
    // `listSeparator`).
    static FilterSnapshot take(const std::vector<FilterItem>& items, char listSeparator,
                               const fs::path& home, std::time_t now);
};

// What a run tells while it goes on; called on the comb thread.
class CombObserver {
public:
    virtual ~CombObserver() = default;
    // The share of the entries combed, 1..100, each time it changes.
    virtual void progress(int32_t /*percent*/) {}
    // After each entry: how many of the entries to comb are done, and of how
    // many (a terminal's progress line shows the counts).
    virtual void entryCombed(uint64_t /*done*/, uint64_t /*total*/) {}
    // A copy of `entry` now stands in its folder under `path`.
    virtual void keptFile(const CacheEntry& /*entry*/, const std::string& /*path*/) {}
    // The copy of `entry` equals a file of its folder and was dropped.
    virtual void duplicate(const CacheEntry& /*entry*/) {}
    // A matching entry could not be copied; `reason` groups such failures.
    virtual void copyFailed(const CacheEntry& /*entry*/, const std::string& /*reason*/) {}
    // A failure that concerns the run rather than one entry: a target folder
    // that cannot be made or lies in the cache (the run then combs nothing),
    // a file-name stem that cannot stand in a name (reported once).
    virtual void error(const ErrorReport& /*report*/) {}
};

// What a run did.
struct CombResult {
    uint64_t entriesCombed = 0;
    uint64_t kept = 0;        // files this run created
    uint64_t duplicates = 0;  // copies dropped as equal to a file in their folder
    uint64_t tooSmall = 0;    // copies dropped as smaller than their item asks
    uint64_t failed = 0;      // matching entries that could not be copied
    // How many files each folder took, by folder, in the order first kept.
    std::vector<std::pair<std::string, uint64_t>> keptByFolder;
    // Failed copies by reason: how many, and the URLs of the first few.
    struct Failures {
        uint64_t count = 0;
        std::vector<std::string> firstUrls;
    };
    std::map<std::string, Failures> failures;
    // Entries combed but not copied because there is nothing to copy (an
    // entry of size 0 whose reader has no bytes for it: a record whose
    // metadata lives apart), by reason. They are no failed copies.
    std::map<std::string, uint64_t> leftOut;
    // False when a target folder stopped the run before any entry.
    bool foldersReady = true;
    // True when the stop flag ended the run early.
    bool stopped = false;

    // How many URLs each reason keeps.
    static constexpr std::size_t kUrlsPerReason = 3;
};

// Combs `entries` (read by `reader`, which stays open) with `snapshot` and
// `options`: the folders of the enabled items are checked first (a folder
// that fails the folder rule or lies in one of the reader's caches stops the
// run before anything is made), then the entries are visited in order.
// `stop`, when given, is looked at before each entry. Throws nothing of its
// own: failures are reported and counted.
CombResult runComb(const CacheReader& reader, std::span<const CacheEntry* const> entries,
                   const FilterSnapshot& snapshot, const CombOptions& options,
                   CombObserver& observer, IPlatform& platform,
                   const std::atomic<bool>* stop = nullptr);
// The same over every entry of a reading.
CombResult runComb(const CacheReader& reader, const Reading& reading,
                   const FilterSnapshot& snapshot, const CombOptions& options,
                   CombObserver& observer, IPlatform& platform,
                   const std::atomic<bool>* stop = nullptr);

// The reason text a failed copy is counted under (no path in it, so that
// failures of one kind group together).
std::string copyFailureReason(const ErrorReport& report);

}  // namespace harvix
