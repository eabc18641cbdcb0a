// The comb pass: checking the target folders, visiting the entries,
// matching them and saving the matches under free names, with the picture
// test, the size test of decoded bodies and the duplicate test made on the
// copy before it has a name.
#include "filter/CombPass.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <set>

#include "base/ContentType.h"
#include "filter/ImageSize.h"
#include "filter/SiteTree.h"
#include "filter/TargetFolder.h"
#include "platform/FileRead.h"
#include "platform/NewFile.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"

namespace harvix {

// ---- The snapshot ----

FilterSnapshot FilterSnapshot::take(const FilterSet& set, const fs::path& home, std::time_t now) {
    std::vector<FilterItem> items;
    items.reserve(set.items.size());
    for (const auto& item : set.items) {
        items.push_back(*item);
    }
    return take(items, set.listSeparator, home, now);
}

FilterSnapshot FilterSnapshot::take(const std::vector<FilterItem>& items, char listSeparator,
                                    const fs::path& home, std::time_t now) {
    FilterSnapshot snapshot;
    snapshot.takenAt = now;
    snapshot.items.reserve(items.size());
    for (const FilterItem& item : items) {
        FilterItem copy = item;
        copy.parseUrl(listSeparator);
        copy.directory = copy.directoryTemplate;
        FilterSet::expandDateTime(copy.directory, now, home);
        // Normalised before it is made: "a/b/../../kept" makes no "a/b".
        if (!copy.directory.empty()) {
            copy.directory = pathToUtf8(pathFromUtf8(copy.directory).lexically_normal());
        }
        snapshot.items.push_back(std::move(copy));
    }
    return snapshot;
}

// ---- Failure reasons ----

std::string copyFailureReason(const ErrorReport& report) {
    std::string reason;
    switch (report.kind()) {
        case ErrorReport::FileOpen:
            reason = "the cached file cannot be opened safely";
            break;
        case ErrorReport::FileRead:
            if (report.systemError() == EBUSY) {
                return "the cached data is still being written (its checksum does not match)";
            }
            reason = report.systemError() == ENODATA ? "the cached data is shorter than its record"
                                                     : "the cached data cannot be read";
            break;
        case ErrorReport::Unsupported:
            if (report.systemError() == EFBIG) {
                return "the cached data decodes to more than " + std::to_string(kDecodedSizeRatio) +
                       " times its size";
            }
            reason = "the cached data cannot be decoded";
            break;
        case ErrorReport::CreateFolder:
            reason = "no file can be created in the target folder";
            break;
        case ErrorReport::FileWrite:
        case ErrorReport::FileCopy:
            reason = "the copy cannot be written";
            break;
        default:
            reason = "the copy failed";
            break;
    }
    const std::string system = report.systemError() == ENODATA ? "" : report.systemText();
    if (!system.empty()) {
        reason += " (" + system + ")";
    }
    return reason;
}

// ---- The pass ----

namespace {

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
        // The entries in the reader's order, by position: a reader's `index`
        // fields are not trusted to lead through the list.
        for (const CacheEntry* entry : entries) {
            if (stop != nullptr && *stop) {
                result_.stopped = true;
                break;
            }
            if (inTime(*entry)) {
                combEntry(*entry);
            }
        }
        return result_;
    }

private:
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
            if (stemUsed && (item.fileNameDummy.find('/') != std::string::npos ||
                             item.fileNameDummy.find('\0') != std::string::npos)) {
                observer_.error(ErrorReport(ErrorReport::FilterCache, ErrorReport::BadFileName,
                                            item.directory, item.fileNameDummy));
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

    void combEntry(const CacheEntry& entry) {
        reportProgress();
        ++result_.entriesCombed;
        // Asked once per entry and only where a minimum size needs it.
        std::optional<bool> decoded;
        noData_ = false;
        for (std::size_t i = 0; i < snapshot_.items.size(); ++i) {
            const FilterItem& item = snapshot_.items[i];
            if (item.disabled) {
                continue;
            }
            if (item.minSize > 0 && !decoded) {
                decoded = copyIsDecoded(reader_, entry);
            }
            const bool sizeOnCopy = decoded.value_or(false);
            if (item.matches(entry, !sizeOnCopy) && saveEntry(i, entry, sizeOnCopy) &&
                options_.oneCopy) {
                break;
            }
            if (noData_) {
                break;
            }
        }
        if (noData_) {
            ++result_.leftOut["no data"];
        }
        observer_.entryCombed(result_.entriesCombed, entriesToComb_);
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

    // Copies `entry` for item `itemIndex`; true when its folder now holds a
    // copy (made now, or found as a duplicate).
    bool saveEntry(std::size_t itemIndex, const CacheEntry& entry, bool sizeOnCopy) {
        if (folderOf_[itemIndex] < 0) {
            return false;  // a stem that cannot stand in a name (reported once)
        }
        const FilterItem& item = snapshot_.items[itemIndex];
        TargetFolder& folder = *folders_[static_cast<std::size_t>(folderOf_[itemIndex])];

        if (const int error = folder.make(); error != 0) {
            const ErrorReport report(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                     pathToUtf8(folder.path()), {}, error);
            // Told once; each entry it would have kept counts as failed.
            if (unmade_.insert(&folder).second) {
                observer_.error(report);
            }
            fail(entry, copyFailureReason(report));
            return false;
        }
        // In the site's tree the copy is made in the folder of its URL's
        // path, held open from here until it is named.
        const bool siteTree = options_.siteTree || item.siteTree;
        std::optional<SitePlace> place;
        std::optional<SiteFolder> site;
        if (siteTree) {
            place = sitePlace(entry.url);
            site = openSiteFolder(pathToUtf8(folder.path()), *place);
            if (!site->handle) {
                fail(entry, copyFailureReason(ErrorReport(ErrorReport::FilterCache,
                                                          ErrorReport::CreateFolder, site->path, {},
                                                          site->error)));
                return false;
            }
        }
        NewFile file = NewFile::create(site ? site->handle.heldPath() : folder.path());
        if (!file) {
            fail(entry,
                 copyFailureReason(ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                               pathToUtf8(folder.path()), {}, file.error())));
            return false;
        }
        try {
            copyBody(reader_, entry, file);
        } catch (const ErrorReport& report) {
            // The new file is discarded with `file`. An entry of size 0 whose
            // reader has no bytes for it (a record whose metadata lives
            // apart) holds nothing to copy: left out, not a failed copy.
            if (entry.size == 0) {
                noData_ = true;
                return false;
            }
            fail(entry, copyFailureReason(report));
            return false;
        }
        const uint64_t size = descriptorSize(file.fd());

        // A body sent encoded is as large as it decodes: its minimum size
        // is tested on the copy, as the picture size is.
        if (sizeOnCopy && item.minSize > 0 && size < static_cast<uint64_t>(item.minSize)) {
            ++result_.tooSmall;
            return false;
        }
        // The picture test on the copy before it has a name: a file the
        // probe cannot measure (no picture, or a format it does not know)
        // cannot show that it has the size, so it goes like one too small;
        // a picture that states no size (an SVG) is kept.
        if (item.minWidth != 0 && item.minHeight != 0) {
            const fs::path open = "/proc/self/fd/" + std::to_string(file.fd());
            if (!measurePicture(open).atLeast(item.minWidth, item.minHeight)) {
                ++result_.tooSmall;
                return false;
            }
        }

        if (site) {
            // Skip Duplicates compares with the file at the same place only:
            // the same resource saved again is not kept twice.
            if (options_.skipDuplicates &&
                siteFolderHoldsCopy(*site, place->file, file.fd(), size)) {
                ++result_.duplicates;
                observer_.duplicate(entry);
                return true;
            }
            std::string failure;
            const std::string path = nameInSiteFolder(file, *site, place->file, failure);
            if (path.empty()) {
                fail(entry, failure);
                return false;
            }
            countKept(folder);
            observer_.keptFile(entry, path);
            return true;
        }
        if (options_.skipDuplicates && folder.holdsCopyOf(file.fd(), size)) {
            ++result_.duplicates;
            observer_.duplicate(entry);
            return true;
        }

        const TargetFolder::Named named =
            folder.name(file, item.fileNameDummy, contentTypeName(entry.contentType), size);
        if (named.path.empty()) {
            fail(entry, named.failure);
            return false;
        }
        countKept(folder);
        observer_.keptFile(entry, named.path);
        return true;
    }

    const CacheReader& reader_;
    const FilterSnapshot& snapshot_;
    const CombOptions& options_;
    CombObserver& observer_;
    IPlatform& platform_;
    CombResult result_;
    std::vector<std::unique_ptr<TargetFolder>> folders_;
    std::vector<int> folderOf_;  // per item: index into folders_, -1 when it keeps nothing
    std::set<const TargetFolder*> unmade_;  // folders that could not be made (told)
    uint64_t entriesToComb_ = 0;
    int32_t lastPercent_ = 0;
    bool noData_ = false;  // the entry being combed has no bytes to copy
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
