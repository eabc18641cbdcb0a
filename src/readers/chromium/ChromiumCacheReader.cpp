#include "readers/chromium/ChromiumCacheReader.h"

#include <cerrno>
#include <stdexcept>

#include "base/ContentType.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"

namespace harvix {

namespace {

// The deepest folder that holds every path of `paths` (not empty).
fs::path commonFolder(const std::vector<fs::path>& paths) {
    fs::path common = paths.front();
    for (const fs::path& path : paths) {
        fs::path shared;
        auto a = common.begin();
        auto b = path.begin();
        for (; a != common.end() && b != path.end() && *a == *b; ++a, ++b)
            shared /= *a;
        common = shared;
    }
    return common;
}

}  // namespace

ChromiumCacheReader::ChromiumCacheReader(std::string browser, std::string location,
                                         std::vector<fs::path> places)
    : browser_(std::move(browser)), location_(std::move(location)), places_(std::move(places)) {}

void ChromiumCacheReader::open() {
    folders_.clear();
    const std::vector<fs::path> places =
        !location_.empty() ? std::vector<fs::path>{pathFromUtf8(location_)} : places_;
    for (const fs::path& place : places) {
        for (chromium::CacheFolder& folder : chromium::findCacheFolders(place)) {
            folders_.push_back(std::move(folder));
        }
    }
    if (folders_.empty()) {
        const fs::path tried = places.empty() ? fs::path() : places.front();
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::CacheOpen, pathToUtf8(tried), {},
                          ENOENT);
    }
    std::vector<fs::path> roots;
    for (const chromium::CacheFolder& folder : folders_)
        roots.push_back(folder.browserRoot);
    root_ = resolveFolder(commonFolder(roots));
}

void ChromiumCacheReader::close() {
    folders_.clear();
}

void ChromiumCacheReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                      SkipCounts& skipped) {
    const chromium::SkipReport skip = [&skipped](const std::string& reason) {
        skipped.add(reason);
    };
    const auto accept = [&out](chromium::CacheRecord&& record) {
        auto entry = std::make_unique<ChromiumCacheEntry>();
        entry->url = std::move(record.url);
        entry->contentTypeText = std::move(record.contentTypeText);
        entry->contentType = contentTypeCode(entry->contentTypeText);
        entry->size = record.size;
        entry->time = record.time;
        entry->dataFile = std::move(record.dataFile);
        entry->index = static_cast<uint32_t>(out.size());
        entry->bodyFile = std::move(record.bodyFile);
        entry->bodyOffset = record.bodyOffset;
        entry->encoding = record.encoding;
        entry->rawHead = std::move(record.rawHead);
        out.push_back(std::move(entry));
    };
    bool stopped = false;
    const auto keepGoing = [&] {
        stopped = stopped || !keepReading(out);
        return !stopped;
    };
    for (const chromium::CacheFolder& folder : folders_) {
        if (!keepGoing())
            return;
        try {
            chromium::readCacheRecords(folder, accept, skip, keepGoing);
        } catch (const std::runtime_error& error) {
            skipped.add(std::string("unreadable cache folder (") + error.what() + ")");
        }
    }
}

BodySource ChromiumCacheReader::bodySource(const CacheEntry& entry) const {
    const auto* chromiumEntry = dynamic_cast<const ChromiumCacheEntry*>(&entry);
    if (chromiumEntry == nullptr) {
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::FileRead, entry.dataFile, {},
                          EINVAL);
    }
    BodySource source;
    source.file = chromiumEntry->bodyFile;
    source.offset = chromiumEntry->bodyOffset;
    source.length = chromiumEntry->size;
    source.encoding = chromiumEntry->encoding;
    return source;
}

std::string ChromiumCacheReader::responseHead(const CacheEntry& entry) const {
    const auto* chromiumEntry = dynamic_cast<const ChromiumCacheEntry*>(&entry);
    if (chromiumEntry == nullptr)
        return {};
    std::string head = chromiumEntry->rawHead;
    // Stored lines end in NUL; a preview shows them one per line.
    while (!head.empty() && head.back() == '\0')
        head.pop_back();
    for (char& c : head) {
        if (c == '\0')
            c = '\n';
    }
    return head;
}

}  // namespace harvix
