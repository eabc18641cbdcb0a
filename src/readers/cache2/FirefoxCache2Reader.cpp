#include "readers/cache2/FirefoxCache2Reader.h"

#include <cerrno>

#include "base/ContentType.h"
#include "base/ErrorReport.h"
#include "base/Text.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/cache2/Cache2Format.h"

namespace harvix {

namespace {

// Why entries were left out when the entries folder could not be read at
// the time of the reading (it could when the cache was opened).
constexpr const char* kReasonUnlistable = "the entries folder cannot be read";

}  // namespace

FirefoxCache2Reader::FirefoxCache2Reader(const fs::path& cache2Folder)
    : FirefoxCache2Reader(FirefoxCacheFolder{FirefoxCacheFormat::Cache2, cache2Folder,
                                             cache2::entriesFolderOf(cache2Folder), cache2Folder}) {
}

FirefoxCache2Reader::FirefoxCache2Reader(FirefoxCacheFolder cache) : cache_(std::move(cache)) {}

void FirefoxCache2Reader::open() {
    root_.clear();
    entries_.clear();
    if (cache_.format != FirefoxCacheFormat::Cache2 || cache_.folder.empty()) {
        // No cache in the folder named or found: the folder looked in.
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen,
                          pathToUtf8(cache_.folder), {}, ENOENT);
    }
    const fs::path base = cache_.base.empty() ? cache_.folder : cache_.base;
    const fs::path root = resolveCacheFolder(base, cache_.folder, cache_.folder);
    const fs::path entriesFolder = resolveCacheFolder(base, cache_.entries, cache_.folder);
    // The entries folder must be listable now: a folder the user may not
    // read is a cache that cannot be opened, not an empty one.
    std::error_code ec;
    fs::directory_iterator listing(entriesFolder, ec);
    if (ec) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen,
                          pathToUtf8(cache_.folder), pathToUtf8(cache_.entries), ec.value());
    }
    root_ = root;
    entries_ = entriesFolder;
}

void FirefoxCache2Reader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                      SkipCounts& skipped) {
    if (root_.empty()) {
        return;
    }
    cache2::ListingCounts counts;
    const std::optional<ErrorReport> unlistable = cache2::listEntries(
        root_, entries_,
        [&](cache2::ListedEntry&& listed) {
            auto entry = std::make_unique<Entry>();
            entry->url = cp1252ToUtf8(listed.url);
            entry->contentTypeText = cp1252ToUtf8(listed.contentType);
            entry->contentType = contentTypeCode(listed.contentType);
            entry->size = listed.bodyLength;
            entry->bodyLength = listed.bodyLength;
            entry->time = listed.lastModified;
            // Firefox rewrites an entry's last-modified time when it stores or
            // revalidates the response: that is when the response came.
            entry->status = listed.status;
            entry->responseTime = listed.lastModified;
            entry->lastUsed = listed.lastFetched;
            entry->expires = listed.expiration == cache2::kNoExpiration
                                 ? CacheEntry::kNoTime
                                 : int64_t{listed.expiration};
            entry->dataFile = listed.fileName;
            entry->encoding = listed.encoding;
            keepEntry(out, std::move(entry));
        },
        counts, [&] { return keepReading(out); });
    if (unlistable) {
        skipped.add(kReasonUnlistable);
    }
    for (const auto& [reason, count] : counts.leftOut) {
        skipped.byReason[reason] += count;
    }
}

BodySource FirefoxCache2Reader::bodySource(const CacheEntry& entry) const {
    const auto* own = dynamic_cast<const Entry*>(&entry);
    if (own == nullptr || !cache2::isEntryFileName(entry.dataFile) || root_.empty()) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen,
                          pathToUtf8(entries_ / entry.dataFile), {}, EINVAL);
    }
    BodySource source;
    source.file = entries_ / own->dataFile;
    source.offset = 0;
    source.length = own->bodyLength;
    source.encoding = own->encoding;
    return source;
}

std::string FirefoxCache2Reader::cacheLocation() const {
    return pathToUtf8(cache_.folder);
}

std::string FirefoxCache2Reader::responseHead(const CacheEntry& entry) const {
    if (root_.empty()) {
        return {};
    }
    const cache2::TailParse parsed = cache2::readEntryFile(root_, entries_, entry.dataFile);
    return parsed.status == cache2::TailStatus::Parsed ? parsed.record.responseHead : "";
}

}  // namespace harvix
