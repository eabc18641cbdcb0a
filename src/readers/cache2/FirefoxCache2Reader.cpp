#include "readers/cache2/FirefoxCache2Reader.h"

#include <cerrno>

#include "base/ContentType.h"
#include "base/ErrorReport.h"
#include "base/Text.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"

namespace harvix {

FirefoxCache2Reader::FirefoxCache2Reader(const fs::path& cache2Folder) : folder_(cache2Folder) {}

void FirefoxCache2Reader::open() {
    const fs::path entriesFolder = cache2::entriesFolderOf(folder_);
    std::error_code ec;
    if (folder_.empty() || !fs::is_directory(entriesFolder, ec)) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen,
                          pathToUtf8(entriesFolder), {}, ENOENT);
    }
    root_ = resolveFolder(entriesFolder);
}

void FirefoxCache2Reader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                      SkipCounts& skipped) {
    cache2::ListingCounts counts;
    const bool ok = cache2::listEntries(
        root_,
        [&](cache2::ListedEntry&& listed) {
            auto entry = std::make_unique<Entry>();
            entry->url = cp1252ToUtf8(listed.url);
            entry->contentTypeText = cp1252ToUtf8(listed.contentType);
            entry->contentType = contentTypeCode(listed.contentType);
            entry->size = listed.bodyLength;
            entry->bodyLength = listed.bodyLength;
            entry->time = listed.lastModified;
            entry->dataFile = listed.fileName;
            entry->encoding = listed.encoding;
            out.push_back(std::move(entry));
        },
        counts, [&] { return keepReading(out); });
    if (!ok) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen, pathToUtf8(root_), {},
                          errno);
    }
    for (const auto& [reason, count] : counts.leftOut) {
        skipped.byReason[reason] += count;
    }
}

BodySource FirefoxCache2Reader::bodySource(const CacheEntry& entry) const {
    const auto* own = dynamic_cast<const Entry*>(&entry);
    if (own == nullptr || !cache2::isEntryFileName(entry.dataFile)) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen,
                          pathToUtf8(root_ / entry.dataFile), {}, EINVAL);
    }
    BodySource source;
    source.file = root_ / own->dataFile;
    source.offset = 0;
    source.length = own->bodyLength;
    source.encoding = own->encoding;
    return source;
}

std::string FirefoxCache2Reader::cacheLocation() const {
    return pathToUtf8(folder_);
}

std::string FirefoxCache2Reader::responseHead(const CacheEntry& entry) const {
    const cache2::TailParse parsed = cache2::readEntryFile(root_, entry.dataFile);
    return parsed.status == cache2::TailStatus::Parsed ? parsed.record.responseHead : "";
}

}  // namespace harvix
