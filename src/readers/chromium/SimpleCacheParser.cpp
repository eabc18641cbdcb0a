#include "readers/chromium/SimpleCacheParser.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "base/ByteOrder.h"
#include "readers/chromium/SimpleCacheFormat.h"

namespace harvix::chromium {

namespace sc = simplecache;

namespace {

// How much of the file's start and end one read takes; most keys and stream
// 0 fit, so most entries cost two reads.
constexpr std::size_t kHeadRead = 1024;
constexpr std::size_t kTailRead = 8192;
constexpr std::size_t kWholeRead = 16384;

// Copies [offset, offset + n) from the tail buffer when it holds it, else reads it.
bool readRange(const ByteSource& file, const std::vector<unsigned char>& tail, uint64_t tailStart,
               uint64_t offset, std::size_t n, unsigned char* out) {
    if (offset >= tailStart && offset - tailStart <= tail.size() &&
        n <= tail.size() - (offset - tailStart)) {
        std::copy_n(tail.data() + (offset - tailStart), n, out);
        return true;
    }
    return file.readExactAt(offset, out, n);
}

}  // namespace

SimpleEntryProblem parseSimpleEntry(const ByteSource& file, SimpleEntryFile& out) {
    const uint64_t fileSize = file.size();
    if (fileSize < sc::kHeaderSize + 2 * sc::kEndRecordSize) {
        return SimpleEntryProblem::TooShort;
    }

    // A small file is read whole, in one read: its head and its tail at once.
    std::vector<unsigned char>& tail = out.readBuffer;
    tail.clear();
    unsigned char headBuffer[sc::kHeaderSize + kHeadRead];
    const unsigned char* headBytes = nullptr;
    std::size_t headLength = 0;
    if (fileSize <= kWholeRead) {
        tail.resize(static_cast<std::size_t>(fileSize));
        if (!file.readExactAt(0, tail.data(), tail.size())) {
            return SimpleEntryProblem::ReadFailed;
        }
        headBytes = tail.data();
        headLength = tail.size();
    } else {
        if (!file.readExactAt(0, headBuffer, sizeof headBuffer)) {
            return SimpleEntryProblem::ReadFailed;
        }
        headBytes = headBuffer;
        headLength = sizeof headBuffer;
    }
    const unsigned char* head = headBytes;
    if (loadLe64(head + sc::kHeaderMagicOffset) != sc::kInitialMagic) {
        return SimpleEntryProblem::BadMagic;
    }
    if (loadLe32(head + sc::kHeaderVersionOffset) != sc::kEntryVersion) {
        return SimpleEntryProblem::BadVersion;
    }
    const uint32_t keyLength = loadLe32(head + sc::kHeaderKeyLengthOffset);
    if (keyLength > sc::kMaxKeyLength ||
        uint64_t{keyLength} > fileSize - sc::kHeaderSize - 2 * sc::kEndRecordSize) {
        return SimpleEntryProblem::BadKey;
    }

    // The tail: stream 0's end record is the file's last bytes.
    uint64_t tailStart = 0;
    if (tail.empty()) {
        const std::size_t tailLength =
            static_cast<std::size_t>(std::min<uint64_t>(fileSize, kTailRead));
        tailStart = fileSize - tailLength;
        tail.resize(tailLength);
        if (!file.readExactAt(tailStart, tail.data(), tail.size())) {
            return SimpleEntryProblem::ReadFailed;
        }
    }
    const unsigned char* end0 = tail.data() + tail.size() - sc::kEndRecordSize;
    if (loadLe64(end0 + sc::kEndMagicOffset) != sc::kFinalMagic) {
        return SimpleEntryProblem::BadEndRecord;
    }
    const uint32_t flags = loadLe32(end0 + sc::kEndFlagsOffset);
    const uint32_t stream0Size = loadLe32(end0 + sc::kEndStreamSizeOffset);
    const uint64_t shaSize = (flags & sc::kFlagHasKeySha256) != 0 ? sc::kKeySha256Size : 0;
    const uint64_t fixed = sc::kHeaderSize + uint64_t{keyLength} + 2 * sc::kEndRecordSize + shaSize;
    if (stream0Size > sc::kMaxStream0Size || fixed > fileSize ||
        uint64_t{stream0Size} > fileSize - fixed) {
        return SimpleEntryProblem::BadEndRecord;
    }
    const uint64_t bodyLength = fileSize - fixed - stream0Size;
    const uint64_t bodyOffset = sc::kHeaderSize + uint64_t{keyLength};
    const uint64_t end1Offset = bodyOffset + bodyLength;
    const uint64_t stream0Offset = end1Offset + sc::kEndRecordSize;

    unsigned char end1[sc::kEndRecordSize];
    if (!readRange(file, tail, tailStart, end1Offset, sizeof end1, end1)) {
        return SimpleEntryProblem::ReadFailed;
    }
    if (loadLe64(end1 + sc::kEndMagicOffset) != sc::kFinalMagic) {
        return SimpleEntryProblem::BadEndRecord;
    }

    out.stream0.resize(stream0Size);
    if (!readRange(file, tail, tailStart, stream0Offset, stream0Size, out.stream0.data())) {
        return SimpleEntryProblem::ReadFailed;
    }
    // Stream 0 is in memory already: its CRC-32 costs no read. The body's is
    // checked when it is copied (a listing never reads bodies).
    if ((flags & sc::kFlagHasCrc32) != 0 &&
        crc32Of(out.stream0.data(), out.stream0.size()) != loadLe32(end0 + sc::kEndCrc32Offset)) {
        return SimpleEntryProblem::ChecksumMismatch;
    }
    out.key.resize(keyLength);
    if (sc::kHeaderSize + std::size_t{keyLength} <= headLength) {
        std::copy_n(head + sc::kHeaderSize, keyLength, out.key.data());
    } else if (!file.readExactAt(sc::kHeaderSize, out.key.data(), keyLength)) {
        return SimpleEntryProblem::ReadFailed;
    }
    out.bodyOffset = bodyOffset;
    out.bodyLength = bodyLength;
    out.bodyHasCrc32 = (loadLe32(end1 + sc::kEndFlagsOffset) & sc::kFlagHasCrc32) != 0;
    out.bodyCrc32 = loadLe32(end1 + sc::kEndCrc32Offset);
    out.stream0Offset = stream0Offset;
    return SimpleEntryProblem::None;
}

std::optional<std::vector<IndexedUse>> parseSimpleIndex(std::span<const unsigned char> bytes) {
    ByteCursor header(bytes);
    uint32_t payloadSize = 0;
    uint32_t crc = 0;
    std::span<const unsigned char> payload;
    if (!header.le32(payloadSize) || !header.le32(crc) || !header.bytes(payloadSize, payload) ||
        crc32Of(payload.data(), payload.size()) != crc) {
        return std::nullopt;
    }
    ByteCursor in(payload);
    uint64_t magic = 0;
    uint32_t version = 0;
    uint64_t count = 0;
    uint64_t cacheSize = 0;
    if (!in.le64(magic) || magic != sc::kIndexMagic || !in.le32(version) ||
        version < sc::kIndexVersionMin || version > sc::kIndexVersionMax || !in.le64(count) ||
        !in.le64(cacheSize)) {
        return std::nullopt;
    }
    uint32_t reason = 0;
    if (version >= sc::kIndexVersionWithReason && !in.le32(reason)) {
        return std::nullopt;
    }
    // A count the bytes cannot hold is a damaged index, not a reason to
    // reserve what it asks for.
    if (count > in.remaining() / sc::kIndexEntrySize) {
        return std::nullopt;
    }
    std::vector<IndexedUse> uses(static_cast<std::size_t>(count));
    for (IndexedUse& use : uses) {
        uint64_t lastUsed = 0;
        uint64_t sizeAndFlags = 0;
        in.le64(use.hash);
        in.le64(lastUsed);
        in.le64(sizeAndFlags);
        use.lastUsed = static_cast<int64_t>(lastUsed);
    }
    std::sort(uses.begin(), uses.end(),
              [](const IndexedUse& a, const IndexedUse& b) { return a.hash < b.hash; });
    return uses;
}

const char* describe(SimpleEntryProblem problem) {
    switch (problem) {
        case SimpleEntryProblem::None:
            return "no problem";
        case SimpleEntryProblem::TooShort:
            return "damaged entry file (too short)";
        case SimpleEntryProblem::BadMagic:
            return "damaged entry file (bad magic number)";
        case SimpleEntryProblem::BadVersion:
            return "entry file of an unknown version";
        case SimpleEntryProblem::BadKey:
            return "damaged entry file (bad key length)";
        case SimpleEntryProblem::BadEndRecord:
            return "damaged entry file (bad end record)";
        case SimpleEntryProblem::ChecksumMismatch:
            return "still being written";
        case SimpleEntryProblem::ReadFailed:
            return "unreadable entry file";
    }
    return "damaged entry file";
}

uint32_t crc32Of(const unsigned char* bytes, std::size_t n, uint32_t crc) {
    // zlib takes at most a uInt at a time.
    constexpr std::size_t kStep = std::numeric_limits<uInt>::max();
    while (n > 0) {
        const std::size_t step = std::min(n, kStep);
        crc = static_cast<uint32_t>(::crc32(crc, bytes, static_cast<uInt>(step)));
        bytes += step;
        n -= step;
    }
    return crc;
}

}  // namespace harvix::chromium
