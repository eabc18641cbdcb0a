#include "readers/UrlCacheIndexRepair.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "base/ByteOrder.h"
#include "readers/UrlCacheIndexFormat.h"

namespace harvix::url_cache_index {

namespace {

uint32_t readU32(const IndexBytes& bytes, std::size_t offset) {
    return loadLe32(bytes.data() + offset);
}

void putU32(IndexBytes& bytes, std::size_t offset, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

bool startsWith(const IndexBytes& bytes, std::size_t at, std::string_view text) {
    return at + text.size() <= bytes.size() &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

// The header reaches at least past the first hash table's offset.
bool hasHeader(const IndexBytes& bytes) {
    return bytes.size() >= kFirstHashTable + 4;
}

// The record at `at` gets a block count of 1 where its own is 0 or more
// than the blocks left in the file.
void boundBlockCount(IndexBytes& bytes, std::size_t at) {
    const uint32_t blocks = readU32(bytes, at + kRecordBlockCount);
    const std::size_t room = (bytes.size() - at) / kBlockSize;
    if (blocks == 0 || blocks > room) {
        putU32(bytes, at + kRecordBlockCount, 1);
    }
}

}  // namespace

IndexBytes repairIndex(IndexBytes bytes) {
    return mendUrlRecordOffsets(boundDirectoryCount(
        boundRecordSizes(cutHashTableLoops(putRightWineSignature(std::move(bytes))))));
}

IndexBytes putRightWineSignature(IndexBytes bytes) {
    if (startsWith(bytes, 0, kWineSignature)) {
        std::copy(kMicrosoftSignature.begin(), kMicrosoftSignature.end(), bytes.begin());
    }
    return bytes;
}

IndexBytes cutHashTableLoops(IndexBytes bytes) {
    if (!hasHeader(bytes)) {
        return bytes;
    }
    std::unordered_set<uint32_t> visited;
    std::size_t link = kFirstHashTable;  // where the current link is stored
    for (;;) {
        const uint32_t table = readU32(bytes, link);
        if (table == 0 || static_cast<std::size_t>(table) + kHashNextTable + 4 > bytes.size()) {
            return bytes;  // the end of the chain, or a link libmsiecf refuses by itself
        }
        if (!visited.insert(table).second) {
            putU32(bytes, link, 0);
            return bytes;
        }
        boundBlockCount(bytes, table);
        link = static_cast<std::size_t>(table) + kHashNextTable;
    }
}

IndexBytes boundRecordSizes(IndexBytes bytes) {
    if (!hasHeader(bytes)) {
        return bytes;
    }
    static constexpr std::array<std::string_view, 4> kSignatures{
        kUrlSignature, kHashSignature, kRedirectSignature, kLeakSignature};
    for (std::size_t at = readU32(bytes, kFirstHashTable); at + 8 <= bytes.size();
         at += kBlockSize) {
        const std::string_view signature(reinterpret_cast<const char*>(bytes.data() + at), 4);
        if (std::find(kSignatures.begin(), kSignatures.end(), signature) != kSignatures.end()) {
            boundBlockCount(bytes, at);
        }
    }
    return bytes;
}

IndexBytes boundDirectoryCount(IndexBytes bytes) {
    if (bytes.size() >= kDirectoryCount + 4 && readU32(bytes, kDirectoryCount) > kMaxDirectories) {
        putU32(bytes, kDirectoryCount, kMaxDirectories);
    }
    return bytes;
}

IndexBytes mendUrlRecordOffsets(IndexBytes bytes) {
    if (!hasHeader(bytes)) {
        return bytes;
    }
    const std::size_t shift = bytes[kVersionDigit] == '4' ? kOlderLayoutShift : 0;
    const std::size_t location = kUrlLocation + shift;
    const std::size_t dataOffset = kUrlHeaderData + shift;
    const std::size_t dataSize = kUrlHeaderSize + shift;
    for (std::size_t at = readU32(bytes, kFirstHashTable); at + dataSize + 4 <= bytes.size();
         at += kBlockSize) {
        if (!startsWith(bytes, at, kUrlSignature)) {
            continue;
        }
        const uint64_t recordSize = uint64_t{readU32(bytes, at + kRecordBlockCount)} * kBlockSize;
        if (readU32(bytes, at + location) > recordSize) {
            putU32(bytes, at + location, 0);
        }
        const uint64_t offset = readU32(bytes, at + dataOffset);
        const uint64_t size = readU32(bytes, at + dataSize);
        if (offset <= recordSize && offset + size > recordSize) {
            putU32(bytes, at + dataSize, static_cast<uint32_t>(recordSize - offset + 1));
        }
    }
    return bytes;
}

}  // namespace harvix::url_cache_index
