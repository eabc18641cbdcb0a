#include "readers/UrlCacheReader.h"

#include <string_view>
#include <vector>

#include "base/ContentType.h"
#include "base/Text.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/http/ResponseHead.h"

namespace harvix {

namespace {

// Windows file time of 1970-01-01 00:00 UTC.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

}  // namespace

UrlCacheReader::UrlCacheReader(std::unique_ptr<UrlCacheService> service)
    : service_(std::move(service)) {}

UrlCacheReader::~UrlCacheReader() {
    close();
}

void UrlCacheReader::close() {
    service_->close();
}

void UrlCacheReader::open() {
    service_->open();
    const fs::path folder = service_->cacheFolder();
    root_ = folder.empty() ? fs::path() : resolveFolder(folder);
}

int64_t UrlCacheReader::entryTime(uint64_t lastSyncTime) {
    if (lastSyncTime < kUnixEpochFileTime) {
        return 0;
    }
    return static_cast<int64_t>((lastSyncTime - kUnixEpochFileTime) / 10000000u);
}

void UrlCacheReader::readEntries(std::vector<std::unique_ptr<CacheEntry>>& out,
                                 SkipCounts& skipped) {
    UrlCacheEntryInfo info;
    const std::unique_ptr<UrlCacheEnumeration> enumeration = service_->findFirst(info);
    if (!enumeration) {
        return;
    }
    do {
        if (!keepReading(out)) {
            break;
        }
        if ((info.cacheEntryType & (kCookieCacheEntry | kUrlHistoryCacheEntry)) != 0) {
            continue;  // cookies and history are not downloads
        }
        if (!info.hasHeaderInfo || info.sourceUrl.empty() || info.localFileName.empty()) {
            skipped.add("no URL, local file or stored header");
            continue;
        }
        auto entry = std::make_unique<Entry>();
        entry->url = info.sourceUrl;
        entry->dataFile = info.localFileName;
        entry->size = info.size != 0 ? info.size : info.sizeLow;
        // The whole header text as stored: its Content-Type line counts.
        entry->contentType = contentTypeCode(info.headerInfo);
        const ResponseHead head = parseResponseHead(info.headerInfo);
        entry->contentTypeText = head.contentType();
        if (head.status > 0 && head.status < 1000) {
            entry->status = static_cast<uint16_t>(head.status);
        }
        // The last sync is when the entry was last fetched or checked.
        entry->time = entryTime(info.lastSyncTime);
        if (info.lastSyncTime != 0) {
            entry->responseTime = entry->time;
        }
        if (info.lastAccessTime != 0) {
            entry->lastUsed = entryTime(info.lastAccessTime);
        }
        if (info.expireTime != 0) {
            entry->expires = entryTime(info.expireTime);
        }
        entry->headerText = std::move(info.headerInfo);
        keepEntry(out, std::move(entry));
    } while (enumeration->next(info));
}

std::string UrlCacheReader::responseHead(const CacheEntry& entry) const {
    const auto* own = dynamic_cast<const Entry*>(&entry);
    return own != nullptr ? own->headerText : std::string();
}

std::optional<std::string> UrlCacheReader::archiveHead(const CacheEntry& entry) const {
    std::string head = responseHead(entry);
    for (const auto& [name, value] : parseResponseHead(head).headers) {
        if (!equalsNoCase(trim(name), "Content-Encoding")) {
            continue;
        }
        for (std::string_view rest = value; !rest.empty();) {
            const std::size_t comma = rest.find(',');
            const std::string_view coding = trim(rest.substr(0, comma));
            if (!coding.empty() && !equalsNoCase(coding, "identity")) {
                return std::nullopt;
            }
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    return head;
}

BodySource UrlCacheReader::bodySource(const CacheEntry& entry) const {
    BodySource source;
    source.file = pathFromUtf8(entry.dataFile);
    source.length = entry.size;
    return source;
}

}  // namespace harvix
