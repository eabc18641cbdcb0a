#include "readers/FirefoxCacheMetadata.h"

#include "base/ByteOrder.h"
#include "readers/FirefoxCacheFormat.h"

#include <cstring>
#include <string_view>

#include "base/ContentType.h"
#include "base/Text.h"

namespace harvix {

namespace {

bool startsWith(const unsigned char* text, std::size_t length, std::string_view prefix) {
    return length >= prefix.size() && std::memcmp(text, prefix.data(), prefix.size()) == 0;
}

// The text from `start` up to its zero byte, or up to `end` when the item
// holds no zero byte after it.
std::string_view textAt(const unsigned char* start, const unsigned char* end) {
    const auto* zero = static_cast<const unsigned char*>(
        std::memchr(start, 0, static_cast<std::size_t>(end - start)));
    const unsigned char* stop = zero != nullptr ? zero : end;
    return {reinterpret_cast<const char*>(start), static_cast<std::size_t>(stop - start)};
}

// One line of a response head, without its line end. Header names are
// compared case-sensitively, colon included; the value starts one byte after
// the colon, whatever that byte is (normally a blank).
void classifyLine(unsigned char* line, std::size_t length, FirefoxCacheEntry& entry) {
    enum class Field { None, Server, AcceptRanges, Etag, ContentType };
    struct Name {
        std::string_view text;
        Field field;
    };
    static constexpr Name kNames[] = {
        {"Server:", Field::Server},
        {"Date:", Field::None},
        {"Accept-Ranges:", Field::AcceptRanges},
        {"Last-Modified:", Field::None},
        {"Etag:", Field::Etag},
        {"Content-Length:", Field::None},
        {"Content-Type:", Field::ContentType},
    };
    for (const Name& name : kNames) {
        if (!startsWith(line, length, name.text)) {
            continue;
        }
        const std::size_t start = name.text.size() + 1;
        unsigned char* value = line + (start < length ? start : length);
        const std::size_t valueLength = start < length ? length - start : 0;
        const std::string_view raw(reinterpret_cast<const char*>(value), valueLength);
        switch (name.field) {
            case Field::Server:
                entry.server = cp1252ToUtf8(raw);
                break;
            case Field::AcceptRanges:
                entry.acceptRanges = cp1252ToUtf8(raw);
                break;
            case Field::Etag:
                entry.etag = cp1252ToUtf8(raw);
                break;
            case Field::ContentType:
                entry.contentTypeText = cp1252ToUtf8(raw);
                entry.contentType = contentTypeCode(raw);
                break;
            case Field::None:
                break;
        }
        return;
    }
}

// Splits the response head that starts at `text` into lines and classifies
// each line that ends in a carriage return. The head ends at its zero byte or
// at `end`; nothing past it is looked at. A carriage return becomes a zero
// byte, and the next line starts two bytes after it (after the line feed).
void parseResponseHead(unsigned char* text, const unsigned char* end, FirefoxCacheEntry& entry) {
    const std::string_view head = textAt(text, end);
    const std::size_t headLength = head.size();
    // The status line: "HTTP/1.1 200 OK".
    if (const std::size_t blank = head.find(' ');
        blank != std::string_view::npos && blank < head.find('\r') && blank + 4 <= headLength) {
        int status = 0;
        for (std::size_t i = blank + 1; i < blank + 4; ++i) {
            status = head[i] >= '0' && head[i] <= '9' ? status * 10 + (head[i] - '0') : -1000;
        }
        if (status >= 100) {
            entry.status = static_cast<uint16_t>(status);
        }
    }
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < headLength; ++i) {
        if (text[i] != '\r') {
            continue;
        }
        text[i] = 0;
        classifyLine(text + lineStart, i - lineStart, entry);
        if (i + 1 >= headLength) {
            break;  // the head ends right after this carriage return
        }
        lineStart = i + 2;
        ++i;  // the line feed
    }
}

}  // namespace

std::string responseHeadOfItem(const unsigned char* item, std::size_t length) {
    if (item == nullptr || length <= firefox_cache::kMetaKeyOffset) {
        return {};
    }
    const unsigned char* end = item + length;
    bool previousWasZero = false;
    for (const unsigned char* p = item + firefox_cache::kMetaKeyOffset; p < end; ++p) {
        if (*p != 0) {
            previousWasZero = false;
            continue;
        }
        if (previousWasZero) {
            break;
        }
        previousWasZero = true;
        const unsigned char* next = p + 1;
        if (startsWith(next, static_cast<std::size_t>(end - next),
                       firefox_cache::kResponseHeadPrefix)) {
            return cp1252ToUtf8(textAt(next, end));
        }
    }
    return {};
}

void readCacheMetadata(unsigned char* item, std::size_t length, FirefoxCacheEntry& entry) {
    if (item == nullptr) {
        length = 0;
    }
    // Header numbers; a short item leaves the missing ones at zero.
    for (std::size_t i = 0; i < entry.recordHeader.size(); ++i) {
        entry.recordHeader[i] = (i + 1) * 4 <= length ? loadBe32(item + i * 4) : 0;
    }
    const unsigned char* end = item + length;
    if (length > firefox_cache::kMetaKeyOffset) {
        unsigned char* key = item + firefox_cache::kMetaKeyOffset;
        const std::size_t available = length - firefox_cache::kMetaKeyOffset;
        entry.keyFirstByte = static_cast<char>(key[0]);

        // The key: only "HTTP:" keys name a URL ("HTTP/" and every other
        // kind give none).
        if (startsWith(key, available, firefox_cache::kHttpKeyPrefix)) {
            entry.url = cp1252ToUtf8(textAt(key + std::strlen(firefox_cache::kHttpKeyPrefix), end));
        }

        // Every zero-terminated text after the key that starts with "HTTP/"
        // is a response head; two zero bytes in a row end the scan.
        bool previousWasZero = false;
        for (unsigned char* p = key; p < end; ++p) {
            if (*p != 0) {
                previousWasZero = false;
                continue;
            }
            if (previousWasZero) {
                break;
            }
            previousWasZero = true;
            unsigned char* next = p + 1;
            if (startsWith(next, static_cast<std::size_t>(end - next),
                           firefox_cache::kResponseHeadPrefix)) {
                parseResponseHead(next, end, entry);
            }
        }
    }
    entry.time = static_cast<int64_t>(entry.recordHeader[firefox_cache::kMetaLastModified]);
    // The entry's last-modified time is when the response was stored (or
    // revalidated); Firefox's "no expiration" is all ones.
    entry.responseTime = entry.time;
    entry.lastUsed = static_cast<int64_t>(entry.recordHeader[firefox_cache::kMetaLastFetched]);
    const uint32_t expiration = entry.recordHeader[firefox_cache::kMetaExpiration];
    entry.expires =
        expiration == firefox_cache::kNoExpiration ? CacheEntry::kNoTime : int64_t{expiration};
    entry.size = entry.recordHeader[firefox_cache::kMetaDataSize];
}

}  // namespace harvix
