// The repairs made to the copy in memory of a URL cache index: each damage
// put right byte for byte, a sound index left as it is, and the repaired
// index read by the service as far as it holds.
#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheIndexFormat.h"
#include "readers/UrlCacheIndexRepair.h"
#include "readers/UrlCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

namespace uci = url_cache_index;
using uci::IndexBytes;

const fs::path kTestData = fs::path(HARVIX_TESTDATA) / "msiecf";
const fs::path kContentIndex = kTestData / "Content.IE5" / "index.dat";
const fs::path kHistoryIndex = kTestData / "History.IE5" / "index.dat";
// In the content index: its only hash table, and a URL record of 4 blocks.
constexpr std::size_t kHashTable = 0x5000;
constexpr std::size_t kUrlRecord = 0x7080;

IndexBytes bytesOf(const fs::path& file) {
    const std::string text = readFile(file);
    return IndexBytes(text.begin(), text.end());
}

uint32_t get32(const IndexBytes& bytes, std::size_t at) {
    return loadLe32(bytes.data() + at);
}

IndexBytes with32(IndexBytes bytes, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

// The entries the service and the reader give for `bytes` written as an index.
std::size_t entriesRead(const IndexBytes& bytes) {
    TempDir dir;
    writeFile(dir / "index.dat", std::string(bytes.begin(), bytes.end()));
    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(dir / "index.dat"));
    if (openCache(reader)) {
        return 0;
    }
    const std::size_t read = readCache(reader).entries.size();
    EXPECT_EQ(readFile(dir / "index.dat"), std::string(bytes.begin(), bytes.end()));
    return read;
}

TEST(UrlCacheIndexRepair, ASoundIndexPassesUnchangedAndWinesSignatureIsPutRight) {
    const IndexBytes content = bytesOf(kContentIndex);
    EXPECT_EQ(uci::repairIndex(content), content);
    EXPECT_EQ(uci::repairIndex(bytesOf(kHistoryIndex)), bytesOf(kHistoryIndex));
    IndexBytes wine = content;
    std::copy(uci::kWineSignature.begin(), uci::kWineSignature.end(), wine.begin());
    EXPECT_EQ(uci::repairIndex(wine), content);
    // Too short for a header: nothing to read, nothing changed.
    for (const std::size_t size : {0u, 4u, 0x23u}) {
        const IndexBytes scrap(size, 0xFF);
        EXPECT_EQ(uci::repairIndex(scrap), scrap);
    }
}

TEST(UrlCacheIndexRepair, AHashTableThatLinksBackEndsTheChainThere) {
    const IndexBytes content = bytesOf(kContentIndex);
    ASSERT_EQ(std::string(content.begin() + kHashTable, content.begin() + kHashTable + 4), "HASH");
    // The only table names itself as the next: read as it is, the index
    // would be walked for ever.
    const IndexBytes looped = with32(content, kHashTable + uci::kHashNextTable, kHashTable);
    EXPECT_EQ(uci::cutHashTableLoops(looped), content);
    EXPECT_EQ(entriesRead(looped), 19u);
    // A link past the end is left for the library to refuse.
    const IndexBytes outside = with32(content, kHashTable + uci::kHashNextTable, 0xFFFFFF00u);
    EXPECT_EQ(uci::cutHashTableLoops(outside), outside);
}

TEST(UrlCacheIndexRepair, ARecordOfNoBlocksOrOfTooManyGetsOne) {
    // Records are found by stepping from one to the next by their block
    // counts; a count of 0, or one whose size in bytes wraps to 0 in 32
    // bits, must not hold the walk on one spot, and one far beyond the file
    // must not ask for its size in memory.
    const IndexBytes content = bytesOf(kContentIndex);
    const std::size_t count = kUrlRecord + uci::kRecordBlockCount;
    ASSERT_EQ(get32(content, count), 4u);
    const uint32_t blocksLeft = static_cast<uint32_t>((content.size() - kUrlRecord) / 128);
    for (const uint32_t blocks : {0u, 0x02000000u, 0xFE000000u, 0xFFFFFFFFu, blocksLeft + 1}) {
        SCOPED_TRACE(blocks);
        const IndexBytes damaged = with32(content, count, blocks);
        EXPECT_EQ(get32(uci::boundRecordSizes(damaged), count), 1u);
        const std::size_t read = entriesRead(damaged);
        EXPECT_GE(read, 17u);
        EXPECT_LE(read, 19u);
    }
    const IndexBytes longest = with32(content, count, blocksLeft);
    EXPECT_EQ(uci::boundRecordSizes(longest), longest);
}

TEST(UrlCacheIndexRepair, ADirectoryCountIsKeptToWhatTheHeaderLists) {
    // The header's count of cache directories (4) grown to more than the
    // header can list: the four real names still serve.
    const IndexBytes content = bytesOf(kContentIndex);
    ASSERT_EQ(get32(content, uci::kDirectoryCount), 4u);
    const IndexBytes grown = with32(content, uci::kDirectoryCount, 0x7F000004u);
    EXPECT_EQ(get32(uci::boundDirectoryCount(grown), uci::kDirectoryCount), uci::kMaxDirectories);
    const IndexBytes most = with32(content, uci::kDirectoryCount, uci::kMaxDirectories);
    EXPECT_EQ(uci::boundDirectoryCount(most), most);
    EXPECT_EQ(entriesRead(grown), 19u);
}

TEST(UrlCacheIndexRepair, UrlOffsetsPastTheRecordAreMendedInEitherLayout) {
    const IndexBytes content = bytesOf(kContentIndex);
    constexpr uint32_t kRecordSize = 4 * 128;
    for (const std::size_t shift : {std::size_t{0}, uci::kOlderLayoutShift}) {
        SCOPED_TRACE(shift);
        IndexBytes bytes = content;
        bytes[uci::kVersionDigit] = shift == 0 ? '5' : '4';
        const std::size_t location = kUrlRecord + uci::kUrlLocation + shift;
        const std::size_t dataOffset = kUrlRecord + uci::kUrlHeaderData + shift;
        const std::size_t dataSize = kUrlRecord + uci::kUrlHeaderSize + shift;
        // A location at the record's very end is left; one past it is none.
        bytes = with32(bytes, location, kRecordSize);
        EXPECT_EQ(get32(uci::mendUrlRecordOffsets(bytes), location), kRecordSize);
        bytes = with32(bytes, location, kRecordSize + 1);
        EXPECT_EQ(get32(uci::mendUrlRecordOffsets(bytes), location), 0u);
        // Header data whose size wraps offset + size in 32 bits: one byte
        // more than the record holds after the offset, which the library
        // refuses. A size that just fits is left.
        bytes = with32(with32(bytes, dataOffset, 0x100), dataSize, 0xFFFFFF80u);
        EXPECT_EQ(get32(uci::mendUrlRecordOffsets(bytes), dataSize), kRecordSize - 0x100 + 1);
        bytes = with32(bytes, dataSize, kRecordSize - 0x100);
        EXPECT_EQ(get32(uci::mendUrlRecordOffsets(bytes), dataSize), kRecordSize - 0x100);
    }
}

}  // namespace

}  // namespace harvix
