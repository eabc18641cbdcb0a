// The comb pass: checking the target folders, visiting the entries,
// matching them and saving the matches under free names, with the picture
// test, the size test of decoded bodies and the duplicate test made on the
// copy before it has a name.
#include "filter/CombPass.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "base/ContentType.h"
#include "filter/CopyPool.h"
#include "filter/CopyTests.h"
#include "filter/SiteTree.h"
#include "filter/TargetFolder.h"
#include "platform/NewFile.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"

namespace harvix {

// ---- The pass ----

namespace {

using comb::CopyPool;
using comb::EntryWork;
using comb::Step;

class CombPass {
public:
    CombPass(const CacheReader& reader, const FilterSnapshot& snapshot, const CombOptions& options,
             CombObserver& observer, IPlatform& platform)
        : reader_(reader),
          snapshot_(snapshot),
          options_(options),
          observer_(observer),
          platform_(platform) {}

    CombResult run(std::span<const CacheEntry* const> entries, const std::atomic<bool>* stop) {
        // Stopped before the first entry (a reading cut short by a cancel):
        // no folder is checked, so no refusal is told either.
        if (stop != nullptr && *stop) {
            result_.stopped = true;
            return result_;
        }
        if (!prepareFolders()) {
            result_.foldersReady = false;
            return result_;
        }
        entriesToComb_ = static_cast<uint64_t>(
            std::count_if(entries.begin(), entries.end(),
                          [this](const CacheEntry* entry) { return inTime(*entry); }));
        const unsigned workers =
            static_cast<unsigned>(std::min<uint64_t>(options_.copyWorkers, entriesToComb_));
        if (workers == 0) {
            // The entries in the reader's order, by position: a reader's
            // `index` fields are not trusted to lead through the list.
            for (const CacheEntry* entry : entries) {
                if (stop != nullptr && *stop) {
                    result_.stopped = true;
                    break;
                }
                if (inTime(*entry)) {
                    // Progress is told before the entry's copies are begun.
                    startTelling();
                    EntryWork work;
                    work.entry = entry;
                    prepare(work, 0);
                    tell(work);
                }
            }
        } else {
            runAhead(entries, workers, stop);
        }
        return result_;
    }

private:
    // The same visit with the copies made on `workers` threads, at most a
    // window of entries ahead of the one being told. The stop flag is looked
    // at before each entry is told, as before each entry is copied above;
    // copies made ahead of a stop are dropped unnamed.
    void runAhead(std::span<const CacheEntry* const> entries, unsigned workers,
                  const std::atomic<bool>* stop) {
        // Every entry ahead holds its copies open: without One Copy one per
        // matching item, so fewer entries go ahead when there are many items.
        const std::size_t items =
            std::max<std::size_t>(1, static_cast<std::size_t>(std::count_if(
                                         snapshot_.items.begin(), snapshot_.items.end(),
                                         [](const FilterItem& item) { return !item.disabled; })));
        const std::size_t window =
            options_.oneCopy ? kWindow : std::clamp<std::size_t>(kOpenCopies / items, 2, kWindow);
        // Declared before the pool, so that the pool (and its threads) ends
        // first, whichever way this returns.
        std::deque<EntryWork> ahead;
        CopyPool pool(
            workers, [this](EntryWork& work) { prepare(work, 0); }, stop);
        const auto tellOldest = [&] {
            EntryWork& oldest = ahead.front();
            pool.waitFor(oldest);
            if (stop != nullptr && *stop) {
                result_.stopped = true;
                return false;
            }
            if (oldest.thrown) {
                std::rethrow_exception(oldest.thrown);
            }
            startTelling();
            tell(oldest);
            ahead.pop_front();
            return true;
        };
        for (const CacheEntry* entry : entries) {
            if (stop != nullptr && *stop) {
                result_.stopped = true;
                return;
            }
            if (!inTime(*entry)) {
                continue;
            }
            if (ahead.size() >= window && !tellOldest()) {
                return;
            }
            ahead.emplace_back().entry = entry;
            pool.add(ahead.back());
        }
        while (!ahead.empty() && tellOldest()) {
        }
    }

    bool inTime(const CacheEntry& entry) const {
        return options_.sinceTime == 0 || entry.time >= options_.sinceTime;
    }

    // Checks the folder of every enabled item and learns the files of those
    // that exist; false (reported) when one fails the folder rule or lies in
    // a cache. Nothing is made here: a folder is made with its first file.
    bool prepareFolders() {
        const std::vector<fs::path> caches = reader_.cacheFolders();
        folderOf_.assign(snapshot_.items.size(), -1);
        for (std::size_t i = 0; i < snapshot_.items.size(); ++i) {
            const FilterItem& item = snapshot_.items[i];
            if (item.disabled) {
                continue;  // a disabled item's folder (an unplugged drive) stops nothing
            }
            if (const auto refused = TargetFolder::refusal(item.directory, caches, platform_)) {
                observer_.error(*refused);
                return false;
            }
            // A stem that cannot stand in a file name is told once per run;
            // its item keeps nothing.
            const bool stemUsed = !options_.siteTree && !item.siteTree;
            if (stemUsed && (item.stem.find('/') != std::string::npos ||
                             item.stem.find('\0') != std::string::npos)) {
                observer_.error(ErrorReport(ErrorReport::FilterCache, ErrorReport::BadFileName,
                                            item.directory, item.stem));
                continue;
            }
            const fs::path folder = pathFromUtf8(item.directory);
            TargetFolder candidate(folder);
            std::size_t index = 0;
            while (index < folders_.size() && folders_[index]->key() != candidate.key()) {
                ++index;
            }
            if (index == folders_.size()) {
                folders_.push_back(std::make_unique<TargetFolder>(std::move(candidate)));
                folders_.back()->listFiles();
            }
            folderOf_[i] = static_cast<int>(index);
        }
        return true;
    }

    // Makes the copies of `work.entry` for the items from `firstItem` on,
    // as far as they go without naming one: every matching item's copy
    // (only up to the first complete one with One Copy), each tested for its
    // item's minimum and picture sizes. Runs on a copy thread: it reads the
    // snapshot, the reader (const) and the folders' paths, makes folders
    // under a lock, and tells nothing.
    void prepare(EntryWork& work, std::size_t firstItem) const {
        const CacheEntry& entry = *work.entry;
        // Asked once per entry and only where a minimum size needs it.
        std::optional<bool> decoded;
        work.resumeAt = 0;
        for (std::size_t i = firstItem; i < snapshot_.items.size(); ++i) {
            const FilterItem& item = snapshot_.items[i];
            if (item.disabled) {
                continue;
            }
            if (item.minSize > 0 && !decoded) {
                decoded = copyIsDecoded(reader_, entry);
            }
            const bool sizeOnCopy = decoded.value_or(false);
            if (!item.matches(entry, !sizeOnCopy) || folderOf_[i] < 0) {
                continue;  // no match, or a stem that cannot stand in a name (told once)
            }
            Step& step = work.steps.emplace_back();
            step.item = i;
            const TargetFolder& folder = *folders_[static_cast<std::size_t>(folderOf_[i])];
            if (const int error = makeFolder(i); error != 0) {
                step.kind = Step::Kind::FolderUnmade;
                step.error = error;
                continue;
            }
            // In the site's tree the copy is made in the folder of its URL's
            // path, made here and held open until the copy is named.
            if (options_.siteTree || item.siteTree) {
                SitePlace place = sitePlace(entry.url);
                step.site = openSiteFolder(pathToUtf8(folder.path()), place);
                step.siteName = std::move(place.file);
                if (!step.site->handle) {
                    step.reason = copyFailureReason(
                        ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                    step.site->path, {}, step.site->error));
                    continue;
                }
            }
            step.file = NewFile::create(step.site ? step.site->handle.heldPath() : folder.path());
            if (!step.file) {
                step.reason = copyFailureReason(
                    ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                step.site ? step.site->path : pathToUtf8(folder.path()), {},
                                step.file.error()));
                continue;
            }
            try {
                step.size = copyBody(reader_, entry, step.file);
            } catch (const ErrorReport& report) {
                step.file.discard();
                // An entry of size 0 whose reader has no bytes for it (a
                // record whose metadata lives apart) holds nothing to copy:
                // left out, not a failed copy, and no other item tries.
                if (entry.size == 0) {
                    step.kind = Step::Kind::NoData;
                    return;
                }
                step.reason = copyFailureReason(report);
                continue;
            }
            // A body sent encoded is as large as it decodes: its minimum size
            // is tested on the copy, as the picture size is, before the copy
            // has a name.
            if (!copyPassesItem(item, step.file, step.size, sizeOnCopy)) {
                step.kind = Step::Kind::TooSmall;
                step.file.discard();
                continue;
            }
            step.kind = Step::Kind::Copy;
            if (options_.oneCopy) {
                work.resumeAt = i + 1;
                return;
            }
        }
    }

    // The folder of item `item` made (once, whichever thread asks first):
    // 0, or why it cannot be.
    int makeFolder(std::size_t item) const {
        const std::lock_guard lock(folderMutex_);
        return folders_[static_cast<std::size_t>(folderOf_[item])]->make();
    }

    // Tells and counts what became of `work.entry`, on the calling thread
    // and in entry order (after startTelling, which tells the progress):
    // copies compared and named, failures reported.
    void startTelling() {
        reportProgress();
        ++result_.entriesCombed;
    }

    void tell(EntryWork& work) {
        const CacheEntry& entry = *work.entry;
        bool noData = false;
        for (;;) {
            bool settled = false;
            for (Step& step : work.steps) {
                switch (step.kind) {
                    case Step::Kind::FolderUnmade:
                        folderUnmade(entry, step);
                        break;
                    case Step::Kind::Failed:
                        fail(entry, step.reason);
                        break;
                    case Step::Kind::TooSmall:
                        ++result_.tooSmall;
                        break;
                    case Step::Kind::NoData:
                        noData = true;
                        break;
                    case Step::Kind::Copy:
                        settled = finishCopy(entry, step) && options_.oneCopy;
                        break;
                }
            }
            // A copy that got no name passes the entry on to the next item,
            // as a failed copy does; that copy is made here.
            if (settled || work.resumeAt == 0) {
                break;
            }
            const std::size_t next = work.resumeAt;
            work.steps.clear();
            prepare(work, next);
        }
        if (noData) {
            ++result_.leftOut["no data"];
        }
        observer_.entryCombed(result_.entriesCombed, entriesToComb_);
    }

    void folderUnmade(const CacheEntry& entry, const Step& step) {
        const TargetFolder& folder = *folders_[static_cast<std::size_t>(folderOf_[step.item])];
        const ErrorReport report(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                 pathToUtf8(folder.path()), {}, step.error);
        // Told once; each entry it would have kept counts as failed.
        if (unmade_.insert(&folder).second) {
            observer_.error(report);
        }
        fail(entry, copyFailureReason(report));
    }

    void reportProgress() {
        if (entriesToComb_ == 0) {
            return;
        }
        // The share of the entries to comb that is done, rounded up, so that
        // the first report comes as soon as one percent is reached and with a
        // since-time the reports still climb evenly to the end.
        const uint64_t done = result_.entriesCombed;
        uint64_t percent = (100u * done + entriesToComb_ - 1) / entriesToComb_;
        percent = std::min<uint64_t>(percent, 100);
        if (static_cast<int32_t>(percent) == lastPercent_) {
            return;
        }
        lastPercent_ = static_cast<int32_t>(percent);
        observer_.progress(lastPercent_);
    }

    void fail(const CacheEntry& entry, const std::string& reason) {
        ++result_.failed;
        CombResult::Failures& failures = result_.failures[reason];
        ++failures.count;
        if (failures.firstUrls.size() < CombResult::kUrlsPerReason &&
            std::find(failures.firstUrls.begin(), failures.firstUrls.end(), entry.url) ==
                failures.firstUrls.end()) {
            failures.firstUrls.push_back(entry.url);
        }
        observer_.copyFailed(entry, reason);
    }

    void countKept(const TargetFolder& folder) {
        ++result_.kept;
        const std::string path = pathToUtf8(folder.path());
        const auto known = std::find_if(result_.keptByFolder.begin(), result_.keptByFolder.end(),
                                        [&](const auto& kept) { return kept.first == path; });
        if (known == result_.keptByFolder.end()) {
            result_.keptByFolder.emplace_back(path, 1);
        } else {
            ++known->second;
        }
    }

    // Compares the complete copy of `step` with its folder and names it;
    // true when its folder now holds a copy (made now, or found as a
    // duplicate).
    bool finishCopy(const CacheEntry& entry, Step& step) {
        const FilterItem& item = snapshot_.items[step.item];
        TargetFolder& folder = *folders_[static_cast<std::size_t>(folderOf_[step.item])];
        if (step.site) {
            return finishInSiteTree(entry, step, folder);
        }
        if (options_.skipDuplicates && folder.holdsCopyOf(step.file.fd(), step.size)) {
            step.file.discard();
            ++result_.duplicates;
            observer_.duplicate(entry);
            return true;
        }
        const TargetFolder::Named named =
            folder.name(step.file, item.stem, contentTypeName(entry.contentType), step.size);
        step.file.discard();  // closed; named or not, nothing is left unnamed
        if (named.path.empty()) {
            fail(entry, named.failure);
            return false;
        }
        countKept(folder);
        observer_.keptFile(entry, named.path);
        return true;
    }

    // The same in the site's tree: Skip Duplicates compares with the file
    // at the same place only (the same resource saved again is not kept
    // twice), and the copy is named there.
    bool finishInSiteTree(const CacheEntry& entry, Step& step, const TargetFolder& folder) {
        if (options_.skipDuplicates &&
            siteFolderHoldsCopy(*step.site, step.siteName, step.file.fd(), step.size)) {
            step.file.discard();
            ++result_.duplicates;
            observer_.duplicate(entry);
            return true;
        }
        std::string failure;
        const std::string path = nameInSiteFolder(step.file, *step.site, step.siteName, failure);
        step.file.discard();
        if (path.empty()) {
            fail(entry, failure);
            return false;
        }
        countKept(folder);
        observer_.keptFile(entry, path);
        return true;
    }

    // Entries prepared ahead of the one being told, at most; and without
    // One Copy, copies held open ahead at most (about).
    static constexpr std::size_t kWindow = 16;
    static constexpr std::size_t kOpenCopies = 64;

    const CacheReader& reader_;
    const FilterSnapshot& snapshot_;
    const CombOptions& options_;
    CombObserver& observer_;
    IPlatform& platform_;
    CombResult result_;
    std::vector<std::unique_ptr<TargetFolder>> folders_;
    std::vector<int> folderOf_;       // per item: index into folders_, -1 when it keeps nothing
    mutable std::mutex folderMutex_;  // making folders, from the copy threads
    std::set<const TargetFolder*> unmade_;  // folders that could not be made (told)
    uint64_t entriesToComb_ = 0;
    int32_t lastPercent_ = 0;
};

}  // namespace

CombResult runComb(const CacheReader& reader, std::span<const CacheEntry* const> entries,
                   const FilterSnapshot& snapshot, const CombOptions& options,
                   CombObserver& observer, IPlatform& platform, const std::atomic<bool>* stop) {
    CombPass pass(reader, snapshot, options, observer, platform);
    return pass.run(entries, stop);
}

CombResult runComb(const CacheReader& reader, const Reading& reading,
                   const FilterSnapshot& snapshot, const CombOptions& options,
                   CombObserver& observer, IPlatform& platform, const std::atomic<bool>* stop) {
    const std::vector<const CacheEntry*> entries = reading.view();
    return runComb(reader, entries, snapshot, options, observer, platform, stop);
}

}  // namespace harvix
