#include "readers/chromium/ChromiumCacheReader.h"

#include <algorithm>
#include <cerrno>

#include "base/ContentType.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/chromium/SparseEntry.h"

namespace harvix {

ChromiumCacheReader::ChromiumCacheReader(std::string browser, std::string location,
                                         std::vector<fs::path> places)
    : browser_(std::move(browser)), location_(std::move(location)), places_(std::move(places)) {}

void ChromiumCacheReader::open() {
    close();
    const std::vector<fs::path> places =
        !location_.empty() ? std::vector<fs::path>{pathFromUtf8(location_)} : places_;
    for (const fs::path& place : places) {
        for (chromium::CacheFolder& folder : chromium::findCacheFolders(place)) {
            // Two places may lead to one folder (a link between installs):
            // it is read once.
            fs::path resolved = resolveFolder(folder.folder);
            if (std::find(resolved_.begin(), resolved_.end(), resolved) == resolved_.end()) {
                resolved_.push_back(std::move(resolved));
                folders_.push_back(std::move(folder));
            }
        }
    }
    if (folders_.empty()) {
        const fs::path tried = places.empty() ? fs::path() : places.front();
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::CacheOpen, pathToUtf8(tried), {},
                          ENOENT);
    }
    // Never a folder that holds them all: that could be the home folder.
    root_ = resolved_.front();
}

void ChromiumCacheReader::close() {
    folders_.clear();
    resolved_.clear();
    root_.clear();
}

void ChromiumCacheReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                      SkipCounts& skipped) {
    const chromium::SkipReport skip = [&skipped](const std::string& reason) {
        skipped.add(reason);
    };
    uint32_t folderIndex = 0;
    const auto accept = [this, &out, &folderIndex](chromium::CacheRecord&& record) {
        auto entry = std::make_unique<ChromiumCacheEntry>();
        entry->url = std::move(record.url);
        entry->contentTypeText = std::move(record.contentTypeText);
        entry->contentType = contentTypeCode(entry->contentTypeText);
        entry->size = record.size;
        entry->time = record.time;
        entry->status = record.status;
        entry->responseTime = record.time;
        if (record.lastUsed > 0) {
            entry->lastUsed = record.lastUsed;
        }
        entry->dataFile = std::move(record.dataFile);
        entry->folder = folderIndex;
        entry->encoding = record.encoding;
        entry->place = record.place;
        keepEntry(out, std::move(entry));
    };
    bool stopped = false;
    const auto keepGoing = [&] {
        stopped = stopped || !keepReading(out);
        return !stopped;
    };
    for (; folderIndex < folders_.size(); ++folderIndex) {
        if (!keepGoing()) {
            return;
        }
        chromium::readCacheRecords(folders_[folderIndex], accept, skip, keepGoing);
    }
}

const ChromiumCacheEntry& ChromiumCacheReader::chromiumEntry(const CacheEntry& entry) const {
    const auto* chromium = dynamic_cast<const ChromiumCacheEntry*>(&entry);
    if (chromium == nullptr || chromium->folder >= folders_.size()) {
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::FileRead, entry.dataFile, {},
                          EINVAL);
    }
    return *chromium;
}

BodySource ChromiumCacheReader::bodySource(const CacheEntry& entry) const {
    const ChromiumCacheEntry& chromium = chromiumEntry(entry);
    BodySource source;
    source.file = chromium::bodyPath(folders_[chromium.folder].folder, chromium.dataFile);
    source.offset = chromium.place.bodyOffset;
    source.length = chromium.size;
    source.encoding = chromium.encoding;
    source.root = resolved_[chromium.folder];
    if (chromium.place.hasBodyCrc32) {
        source.crc32 = chromium.place.bodyCrc32;
    }
    if (chromium.place.sparse) {
        chromium::fillSparseBody(source);
    }
    return source;
}

std::string ChromiumCacheReader::responseHead(const CacheEntry& entry) const {
    const auto* chromium = dynamic_cast<const ChromiumCacheEntry*>(&entry);
    if (chromium == nullptr || chromium->folder >= folders_.size()) {
        return {};
    }
    std::string head =
        chromium::readResponseHead(resolved_[chromium->folder], folders_[chromium->folder].folder,
                                   chromium->dataFile, chromium->size, chromium->place);
    // Stored lines end in NUL; a preview shows them one per line.
    while (!head.empty() && head.back() == '\0') {
        head.pop_back();
    }
    std::replace(head.begin(), head.end(), '\0', '\n');
    return head;
}

}  // namespace harvix
