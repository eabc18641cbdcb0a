#include "readers/chromium/CacheStorage.h"

#include "base/Text.h"
#include "readers/chromium/CacheStorageFormat.h"
#include "readers/chromium/Protobuf.h"
#include "readers/chromium/ResponseInfo.h"

namespace harvix::chromium {

namespace cs = cachestorage;

namespace {

using Wire = ProtoReader::WireType;

std::optional<CacheStorageIndex::Cache> parseCache(std::span<const unsigned char> bytes) {
    CacheStorageIndex::Cache cache;
    std::string utf16Name;
    bool hasUtf16Name = false;
    ProtoReader fields(bytes);
    while (fields.next()) {
        if (fields.type() != Wire::Bytes) {
            continue;
        }
        if (fields.field() == cs::kCacheName) {
            cache.name = fields.text();
        } else if (fields.field() == cs::kCacheFolder) {
            cache.folder = fields.text();
        } else if (fields.field() == cs::kCacheUtf16Name) {
            utf16Name = utf16ToUtf8(fields.text(), false);
            hasUtf16Name = true;
        }
    }
    if (fields.failed() || cache.folder.empty()) {
        return std::nullopt;
    }
    if (hasUtf16Name) {
        cache.name = std::move(utf16Name);
    }
    return cache;
}

bool parseResponse(std::span<const unsigned char> bytes, CacheMetadata& out) {
    ProtoReader fields(bytes);
    while (fields.next()) {
        const bool text = fields.type() == Wire::Bytes;
        const bool number = fields.type() == Wire::Varint;
        switch (fields.field()) {
            case cs::kResponseStatus:
                if (number) {
                    out.status = static_cast<int32_t>(fields.number());
                }
                break;
            case cs::kResponseStatusText:
                if (text) {
                    out.statusText = fields.text();
                }
                break;
            case cs::kResponseType:
                if (number) {
                    out.responseType = fields.number();
                }
                break;
            case cs::kResponseHeader: {
                if (!text || out.headers.size() >= cs::kMaxHeaders) {
                    break;
                }
                std::pair<std::string, std::string> header;
                ProtoReader pair(fields.bytes());
                while (pair.next()) {
                    if (pair.type() == Wire::Bytes && pair.field() == cs::kHeaderName) {
                        header.first = pair.text();
                    } else if (pair.type() == Wire::Bytes && pair.field() == cs::kHeaderValue) {
                        header.second = pair.text();
                    }
                }
                if (pair.failed()) {
                    return false;
                }
                out.headers.push_back(std::move(header));
                break;
            }
            case cs::kResponseTime:
                if (number) {
                    out.responseTime = static_cast<int64_t>(fields.number());
                }
                break;
            case cs::kResponseUrlList:
                if (text && out.urlList.size() < cs::kMaxHeaders) {
                    out.urlList.emplace_back(fields.text());
                }
                break;
            case cs::kResponseMimeType:
                if (text) {
                    out.mimeType = fields.text();
                }
                break;
            default:
                break;
        }
    }
    return !fields.failed();
}

}  // namespace

std::optional<CacheStorageIndex> parseCacheStorageIndex(std::span<const unsigned char> bytes) {
    CacheStorageIndex index;
    ProtoReader fields(bytes);
    while (fields.next()) {
        if (fields.type() != Wire::Bytes) {
            continue;
        }
        if (fields.field() == cs::kIndexOrigin) {
            index.origin = fields.text();
        } else if (fields.field() == cs::kIndexCache && index.caches.size() < cs::kMaxCaches) {
            std::optional<CacheStorageIndex::Cache> cache = parseCache(fields.bytes());
            if (!cache) {
                return std::nullopt;
            }
            index.caches.push_back(std::move(*cache));
        }
    }
    if (fields.failed()) {
        return std::nullopt;
    }
    return index;
}

std::optional<CacheMetadata> parseCacheMetadata(std::span<const unsigned char> bytes) {
    CacheMetadata metadata;
    bool hasResponse = false;
    ProtoReader fields(bytes);
    while (fields.next()) {
        if (fields.field() == cs::kMetadataRequest && fields.type() == Wire::Bytes) {
            ProtoReader request(fields.bytes());
            while (request.next()) {
                if (request.field() == cs::kRequestMethod && request.type() == Wire::Bytes) {
                    metadata.method = request.text();
                }
            }
            if (request.failed()) {
                return std::nullopt;
            }
        } else if (fields.field() == cs::kMetadataResponse && fields.type() == Wire::Bytes) {
            if (!parseResponse(fields.bytes(), metadata)) {
                return std::nullopt;
            }
            hasResponse = true;
        } else if (fields.field() == cs::kMetadataEntryTime && fields.type() == Wire::Varint) {
            metadata.entryTime = static_cast<int64_t>(fields.number());
        }
    }
    if (fields.failed() || !hasResponse) {
        return std::nullopt;
    }
    return metadata;
}

std::string CacheMetadata::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsNoCase(key, name)) {
            return value;
        }
    }
    return {};
}

std::string CacheMetadata::head(bool forDecodedBody) const {
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + (statusText.empty() ? "" : " ") + statusText + "\n";
    for (const auto& [name, value] : headers) {
        if (forDecodedBody &&
            (equalsNoCase(name, "Content-Encoding") || equalsNoCase(name, "Content-Length") ||
             equalsNoCase(name, "Transfer-Encoding"))) {
            continue;
        }
        text += name + ": " + value + "\n";
    }
    return text;
}

const char* acceptCacheStorageEntry(std::string_view key, std::span<const unsigned char> stream0,
                                    uint64_t bodyLength, CacheStorageRecord& record) {
    record.url = urlFromKey(key);
    if (record.url.empty()) {
        return "not an http or https entry";
    }
    const std::optional<CacheMetadata> metadata = parseCacheMetadata(stream0);
    if (!metadata) {
        return "damaged entry metadata";
    }
    if (!metadata->method.empty() && metadata->method != "GET") {
        return "not a GET request";
    }
    const bool opaque = metadata->responseType == cs::kTypeOpaque && metadata->status == 0;
    if (!opaque && metadata->status != 200 && metadata->status != 203) {
        return metadata->status == 206 ? "partial response (206)" : "status other than 200 or 203";
    }
    if (bodyLength == 0) {
        return "empty body";
    }
    record.contentTypeText = metadata->header("Content-Type");
    if (record.contentTypeText.empty()) {
        record.contentTypeText = metadata->mimeType;
    }
    record.time = unixTimeFromChromium(metadata->responseTime != 0 ? metadata->responseTime
                                                                   : metadata->entryTime);
    record.status = static_cast<uint16_t>(metadata->status);  // 200 or 203, or 0 when opaque
    if (metadata->responseTime != 0) {
        record.responseTime = unixTimeFromChromium(metadata->responseTime);
    }
    return nullptr;
}

}  // namespace harvix::chromium
