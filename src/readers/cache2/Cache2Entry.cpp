#include "readers/cache2/Cache2Entry.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "base/Text.h"
#include "readers/cache2/Cache2Format.h"

namespace harvix::cache2 {

namespace {

void hashMix(uint32_t& a, uint32_t& b, uint32_t& c) {
    a -= b;
    a -= c;
    a ^= (c >> 13);
    b -= c;
    b -= a;
    b ^= (a << 8);
    c -= a;
    c -= b;
    c ^= (b >> 13);
    a -= b;
    a -= c;
    a ^= (c >> 12);
    b -= c;
    b -= a;
    b ^= (a << 16);
    c -= a;
    c -= b;
    c ^= (b >> 5);
    a -= b;
    a -= c;
    a ^= (c >> 3);
    b -= c;
    b -= a;
    b ^= (a << 10);
    c -= a;
    c -= b;
    c ^= (b >> 15);
}

// Name NUL value NUL pairs, as Firefox checks them before it uses an entry:
// the block ends with NUL and holds an even number of NULs.
bool elementsWellFormed(std::string_view elements) {
    if (elements.empty()) {
        return true;
    }
    if (elements.back() != '\0') {
        return false;
    }
    std::size_t zeros = 0;
    for (const char ch : elements) {
        zeros += ch == '\0' ? 1 : 0;
    }
    return zeros % 2 == 0;
}

std::optional<std::string_view> elementValue(std::string_view elements, std::string_view name) {
    while (!elements.empty()) {
        const std::size_t nameEnd = elements.find('\0');
        if (nameEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t valueEnd = elements.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos) {
            return std::nullopt;
        }
        if (elements.substr(0, nameEnd) == name) {
            return elements.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        }
        elements.remove_prefix(valueEnd + 1);
    }
    return std::nullopt;
}

bool isDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// "1;<offset>,<type>": the offset where the alternative representation starts.
std::optional<uint64_t> altDataOffset(std::string_view info) {
    std::size_t at = 0;
    uint64_t version = 0;
    while (at < info.size() && isDigit(info[at]) && version < 1000) {
        version = version * 10 + static_cast<uint64_t>(info[at++] - '0');
    }
    if (at == 0 || version != kAltDataFormatVersion || at >= info.size() || info[at] != ';') {
        return std::nullopt;
    }
    ++at;
    const std::size_t digitsFrom = at;
    uint64_t offset = 0;
    while (at < info.size() && isDigit(info[at])) {
        if (offset > (UINT64_MAX - 9) / 10) {
            return std::nullopt;
        }
        offset = offset * 10 + static_cast<uint64_t>(info[at++] - '0');
    }
    if (at == digitsFrom || at >= info.size() || info[at] != ',') {
        return std::nullopt;
    }
    return offset;
}

}  // namespace

uint32_t cacheHash(std::span<const unsigned char> bytes, uint32_t initialValue) {
    uint32_t a = 0x9e3779b9u;
    uint32_t b = 0x9e3779b9u;
    uint32_t c = initialValue;
    const unsigned char* k = bytes.data();
    std::size_t left = bytes.size();
    while (left >= 12) {
        a += loadLe32(k);
        b += loadLe32(k + 4);
        c += loadLe32(k + 8);
        hashMix(a, b, c);
        k += 12;
        left -= 12;
    }
    // The length enters modulo 2^32, as Firefox keeps it in 32 bits.
    c += static_cast<uint32_t>(bytes.size());
    // The last bytes: 0..3 into a, 4..7 into b, 8..10 into c above its low byte.
    for (std::size_t i = 0; i < left; ++i) {
        const uint32_t byte = k[i];
        if (i < 4) {
            a += byte << (8 * i);
        } else if (i < 8) {
            b += byte << (8 * (i - 4));
        } else {
            c += byte << (8 * (i - 7));
        }
    }
    hashMix(a, b, c);
    return c;
}

std::optional<std::string_view> urlOfKey(std::string_view key) {
    char lastTag = 0;
    std::size_t at = 0;
    while (at < key.size()) {
        const char tag = key[at++];
        const auto code = static_cast<unsigned char>(tag);
        if (code < 0x20 || code > 0x7F) {
            return std::nullopt;
        }
        if (tag == ':') {
            return key.substr(at);
        }
        if (!(lastTag < tag)) {
            return std::nullopt;  // tags stand in ascending order
        }
        lastTag = tag;
        switch (tag) {
            case 'a':
            case 'p':
            case 'b':
                break;
            case 'i': {
                const std::size_t from = at;
                while (at < key.size() && isDigit(key[at])) {
                    ++at;
                }
                if (at == from || at - from > 10) {
                    return std::nullopt;
                }
                break;
            }
            default:
                // A value up to the next single comma; ",," is an escaped comma.
                if (at >= key.size()) {
                    return std::nullopt;
                }
                while (true) {
                    if (at >= key.size()) {
                        return std::nullopt;
                    }
                    if (key[at] == ',') {
                        if (at + 1 < key.size() && key[at + 1] == ',') {
                            at += 2;
                            continue;
                        }
                        break;
                    }
                    ++at;
                }
                break;
        }
        if (at >= key.size() || key[at] != ',') {
            return std::nullopt;
        }
        ++at;
    }
    return std::nullopt;
}

TailParse parseEntryTail(std::span<const unsigned char> tail, uint64_t fileSize) {
    TailParse result;
    const auto unreadable = [&result](const char* reason) {
        result.status = TailStatus::Unreadable;
        result.reason = reason;
        return result;
    };
    if (tail.size() > fileSize || tail.size() < kOffsetWordSize) {
        return unreadable(kReasonBadOffset);
    }
    const uint64_t metaOffset = loadBe32(tail.data() + tail.size() - kOffsetWordSize);
    // The smallest metadata: hash, header of version 1, an empty key's NUL,
    // the offset word.
    if (metaOffset >= fileSize ||
        fileSize - metaOffset < kHashSize + kHeaderSizeVersion1 + 1 + kOffsetWordSize) {
        return unreadable(kReasonBadOffset);
    }
    const uint64_t metaSize = fileSize - metaOffset;
    const uint64_t hashCount = (metaOffset + kChunkSize - 1) / kChunkSize;
    const uint64_t hashesSize = hashCount * kChunkHashSize;
    const uint64_t largest = kHashSize + hashesSize + kHeaderSize + kMaxKeySize + 1 +
                             kMaxElementsSize + kVersion4TrailerSize + kOffsetWordSize;
    if (metaSize > largest) {
        return unreadable(kReasonBadOffset);
    }
    if (metaSize > tail.size()) {
        result.status = TailStatus::NeedLongerTail;
        result.neededTail = metaSize;
        return result;
    }
    const std::span<const unsigned char> meta = tail.subspan(tail.size() - metaSize);
    const std::size_t headerAt = kHashSize + hashesSize;
    if (headerAt + kHeaderSizeVersion1 + 1 + kOffsetWordSize > meta.size()) {
        return unreadable(kReasonBadOffset);  // no room for the header after the chunk hashes
    }
    const unsigned char* header = meta.data() + headerAt;
    EntryRecord& record = result.record;
    record.version = loadBe32(header + kHeaderVersionAt);
    if (record.version < kFirstVersion || record.version > kLastVersion) {
        // A later version whose hash holds (with or without a trailer word)
        // is an entry this reader does not know; anything else is an offset
        // word out of step with the file, as while Firefox writes it.
        const uint32_t storedHash = loadBe32(meta.data());
        for (const std::size_t tailWords :
             {kOffsetWordSize, kOffsetWordSize + kVersion4TrailerSize}) {
            if (cacheHash(meta.subspan(kHashSize, meta.size() - tailWords - kHashSize)) ==
                storedHash) {
                result.status = TailStatus::UnknownVersion;
                return result;
            }
        }
        return unreadable(kReasonBadOffset);
    }
    const std::size_t headerSize = record.version == 1 ? kHeaderSizeVersion1 : kHeaderSize;
    const std::size_t trailerSize =
        kOffsetWordSize + (record.version >= 4 ? kVersion4TrailerSize : 0);
    const std::size_t keyAt = headerAt + headerSize;
    if (keyAt + 1 + trailerSize > meta.size()) {
        return unreadable(kReasonBadOffset);
    }
    record.fetchCount = loadBe32(header + kHeaderFetchCountAt);
    record.lastFetched = loadBe32(header + kHeaderLastFetchedAt);
    record.lastModified = loadBe32(header + kHeaderLastModifiedAt);
    record.frecency = loadBe32(header + kHeaderFrecencyAt);
    record.expiration = loadBe32(header + kHeaderExpirationAt);
    const uint32_t keySize = loadBe32(header + kHeaderKeySizeAt);
    record.flags = record.version >= 2 ? loadBe32(header + kHeaderFlagsAt) : 0;

    const std::size_t hashedEnd = meta.size() - trailerSize;
    if (keySize > kMaxKeySize || keySize >= hashedEnd - keyAt) {
        return unreadable(kReasonBadKeySize);  // the key and its NUL must fit before the trailer
    }
    const std::size_t elementsAt = keyAt + keySize + 1;
    if (meta[elementsAt - 1] != 0) {
        return unreadable(kReasonKeyWithoutNul);
    }
    const uint32_t storedHash = loadBe32(meta.data());
    if (cacheHash(meta.subspan(kHashSize, hashedEnd - kHashSize)) != storedHash) {
        return unreadable(kReasonBadHash);
    }
    const std::string_view elements(reinterpret_cast<const char*>(meta.data()) + elementsAt,
                                    hashedEnd - elementsAt);
    if (!elementsWellFormed(elements)) {
        return unreadable(kReasonElementsWithoutNul);
    }
    record.key.assign(reinterpret_cast<const char*>(meta.data()) + keyAt, keySize);
    if (const auto url = urlOfKey(record.key)) {
        record.url = *url;
    }
    if (const auto head = elementValue(elements, kResponseHeadElement)) {
        record.responseHead = *head;
        record.head = parseResponseHead(record.responseHead);
    }
    record.metaOffset = metaOffset;
    record.bodyLength = metaOffset;
    if (const auto altData = elementValue(elements, kAltDataElement)) {
        const std::optional<uint64_t> altOffset = altDataOffset(*altData);
        if (!altOffset || *altOffset > metaOffset) {
            // Firefox drops an entry whose alt-data it cannot place.
            result.record = EntryRecord{};
            return unreadable(kReasonBadAltData);
        }
        record.hasAltData = true;
        record.bodyLength = *altOffset;
    }
    result.status = TailStatus::Parsed;
    return result;
}

std::optional<std::string> reasonToLeaveOut(const EntryRecord& record) {
    if (!startsWithNoCase(record.url, "http://") && !startsWithNoCase(record.url, "https://")) {
        return std::string(kReasonNotHttp);
    }
    const int status = record.head.status;
    if (status == 206) {
        // Media fetched in ranges: Firefox keeps the bytes from the first on
        // under the head of the first range's answer. All of them present,
        // the entry is the whole resource; fewer, it is left out.
        const std::optional<ContentRange> range = record.head.contentRange();
        const std::optional<uint64_t> whole = record.head.wholeSize();
        if (!range || range->first != 0 || !whole || record.bodyLength > *whole) {
            return std::string(kReasonPartial);
        }
        if (record.bodyLength < *whole) {
            return std::string(kReasonIncompleteMedia);
        }
        return *whole == 0 ? std::optional<std::string>(kReasonEmpty) : std::nullopt;
    }
    if (status >= 300 && status <= 399) {
        return std::string(kReasonRedirect);
    }
    if (status != 200 && status != 203) {
        return std::string(kReasonStatus);
    }
    if (record.bodyLength == 0) {
        return std::string(kReasonEmpty);
    }
    const std::optional<uint64_t> expected = record.head.contentLength();
    if (expected && record.bodyLength < *expected) {
        return std::string(kReasonInterrupted);
    }
    return std::nullopt;
}

}  // namespace harvix::cache2
