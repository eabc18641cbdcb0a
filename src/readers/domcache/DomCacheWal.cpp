#include "readers/domcache/DomCacheWal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "base/ByteOrder.h"
#include "readers/domcache/DomCacheFormat.h"

namespace harvix::domcache {

namespace {

constexpr std::size_t kSqlitePageSizeOffset = 16;  // big-endian 16 bits, 1 meaning 65536

bool isPageSize(uint32_t size) {
    return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

// SQLite's checksum, carried on in s[0], s[1], over `n` bytes (a multiple of 8).
void checksum(const unsigned char* data, std::size_t n, bool bigEndian, uint32_t s[2]) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const uint32_t x0 = bigEndian ? loadBe32(data + i) : loadLe32(data + i);
        const uint32_t x1 = bigEndian ? loadBe32(data + i + 4) : loadLe32(data + i + 4);
        s[0] += x0 + s[1];
        s[1] += x1 + s[0];
    }
}

}  // namespace

WalOutcome applyWal(std::vector<unsigned char>& database, uint64_t walSize, const WalRead& read,
                    uint64_t maxSize) {
    std::array<unsigned char, kWalHeaderSize> header{};
    if (walSize < kWalHeaderSize) {
        return WalOutcome::None;
    }
    if (!read(0, header.data(), header.size())) {
        return WalOutcome::Unreadable;
    }
    const uint32_t magic = loadBe32(header.data());
    const uint32_t pageSize = loadBe32(header.data() + 8);
    if ((magic != kWalMagicLittleEndian && magic != kWalMagicBigEndian) ||
        loadBe32(header.data() + 4) != kWalVersion || !isPageSize(pageSize)) {
        return WalOutcome::None;
    }
    const bool bigEndian = magic == kWalMagicBigEndian;
    uint32_t sum[2] = {0, 0};
    checksum(header.data(), 24, bigEndian, sum);
    if (sum[0] != loadBe32(header.data() + 24) || sum[1] != loadBe32(header.data() + 28)) {
        return WalOutcome::None;
    }
    // A log of another page size than the database's belongs to no version
    // of it (SQLite ignores it as well).
    if (database.size() >= kSqliteHeaderSize) {
        const uint32_t stored = loadBe16(database.data() + kSqlitePageSizeOffset);
        if ((stored == 1 ? 65536u : stored) != pageSize) {
            return WalOutcome::None;
        }
    }

    // The frames that count, up to the last commit among them.
    const uint64_t frameSize = kWalFrameHeaderSize + uint64_t{pageSize};
    std::vector<unsigned char> frame(static_cast<std::size_t>(frameSize));
    std::vector<uint32_t> pages;  // the page of each frame read
    std::size_t committedFrames = 0;
    uint32_t committedPages = 0;
    for (uint64_t offset = kWalHeaderSize; offset + frameSize <= walSize; offset += frameSize) {
        if (!read(offset, frame.data(), frame.size())) {
            return WalOutcome::Unreadable;
        }
        const uint32_t page = loadBe32(frame.data());
        if (page == 0 || std::memcmp(frame.data() + 8, header.data() + 16, 8) != 0) {
            break;
        }
        checksum(frame.data(), 8, bigEndian, sum);
        checksum(frame.data() + kWalFrameHeaderSize, pageSize, bigEndian, sum);
        if (sum[0] != loadBe32(frame.data() + 16) || sum[1] != loadBe32(frame.data() + 20)) {
            break;
        }
        pages.push_back(page);
        if (const uint32_t size = loadBe32(frame.data() + 4); size != 0) {
            committedFrames = pages.size();
            committedPages = size;
        }
    }
    if (committedFrames == 0) {
        return WalOutcome::None;
    }
    if (uint64_t{committedPages} * pageSize > maxSize) {
        return WalOutcome::TooLarge;
    }

    // The last copy of each page up to the commit, laid over the database
    // cut (or grown) to the committed size.
    std::unordered_map<uint32_t, std::size_t> latest;
    for (std::size_t i = 0; i < committedFrames; ++i) {
        if (pages[i] <= committedPages) {
            latest[pages[i]] = i;
        }
    }
    database.resize(static_cast<std::size_t>(uint64_t{committedPages} * pageSize));
    for (const auto& [page, index] : latest) {
        const uint64_t offset = kWalHeaderSize + index * frameSize + kWalFrameHeaderSize;
        if (!read(offset, database.data() + std::size_t{page - 1} * pageSize, pageSize)) {
            return WalOutcome::Unreadable;
        }
    }
    return WalOutcome::Applied;
}

}  // namespace harvix::domcache
