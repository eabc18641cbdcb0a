// What the fuzz targets found, each pinned down with the bytes that showed
// it (the inputs themselves are also in fuzz/regressions/).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Pictures.h"
#include "filter/ImageSize.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "support/TestData.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// A JPEG whose first segment after the start marker is a Huffman table
// (DHT) with the given sixteen symbol counts, followed by the rest of a
// sound 16 x 8 JPEG.
std::string JpegWithHuffmanTable(const std::string& counts) {
    const std::string sound = mozcache::makeJpeg(16, 8);
    int symbols = 0;
    for (const char count : counts) {
        symbols += static_cast<unsigned char>(count);
    }
    const int length = 2 + 1 + 16 + symbols;
    std::string table = "\xFF\xC4";
    table += static_cast<char>(length >> 8);
    table += static_cast<char>(length & 0xFF);
    table += '\x00';  // a DC table, number 0
    table += counts;
    for (int i = 0; i < symbols; ++i) {
        table += static_cast<char>(i & 0xFF);
    }
    return sound.substr(0, 2) + table + sound.substr(2);
}

bool Measure(const std::string& bytes, int32_t& width, int32_t& height) {
    TempDir temp;
    writeFile(temp / "cached", bytes);
    const PictureSize size = measurePicture(temp / "cached");
    if (size.kind != PictureSize::Kind::Measured) {
        return false;
    }
    width = size.width;
    height = size.height;
    return true;
}

TEST(FuzzFindings, AJpegHuffmanTableOfMoreThan256SymbolsIsNotMeasured) {
    // The picture library of Debian 12 writes past its table for such a
    // file while it reads the headers; the probe no longer hands it over.
    int32_t width = -1;
    int32_t height = -1;
    EXPECT_FALSE(Measure(JpegWithHuffmanTable(std::string(16, '\x11')), width, height));
    // 255 + 2: one symbol too many.
    EXPECT_FALSE(Measure(JpegWithHuffmanTable(std::string(14, '\0') + std::string("\xFF\x02", 2)),
                         width, height));
    EXPECT_EQ(width, -1);
    EXPECT_EQ(height, -1);

    // A sound table before the frame, as most JPEG files have them: still
    // measured.
    const std::string dcTable("\x00\x01\x05\x01\x01\x01\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00",
                              16);
    ASSERT_TRUE(Measure(JpegWithHuffmanTable(dcTable), width, height));
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 8);
    width = height = -1;
    EXPECT_TRUE(Measure(mozcache::makeJpeg(640, 480), width, height));
    EXPECT_EQ(width, 640);
}

uint32_t Le32(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

void PutLe32(std::string& bytes, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

std::size_t EntriesOf(const fs::path& index) {
    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(index));
    if (openCache(reader)) {
        return 0;
    }
    Reading reading = readCache(reader);
    return reading.entries.size();
}

TEST(FuzzFindings, AUrlRecordWhoseLocationLiesPastItsEndIsPassedOverWithoutALeak) {
    // libmsiecf gives up on such a record without releasing its copy of it;
    // the sanitized suite reports the lost memory at exit when the offset
    // reaches the library unchanged.
    ASSERT_TEST_DATA(testData("msiecf/Content.IE5/index.dat"), kContentIndexBytes);
    const std::string original = readFile(testData("msiecf/Content.IE5/index.dat"));
    TempDir temp;
    writeFile(temp / "sound.dat", original);
    const std::size_t sound = EntriesOf(temp / "sound.dat");
    ASSERT_EQ(sound, 19u);

    std::string damaged = original;
    std::size_t changed = 0;
    for (std::size_t at = 0x5000; at + 0x80 <= damaged.size(); at += 0x80) {
        if (damaged.compare(at, 4, "URL ") == 0 && changed < 3) {
            PutLe32(damaged, at + 0x34, Le32(damaged, at + 4) * 0x80 + 8);
            ++changed;
        }
    }
    ASSERT_EQ(changed, 3u);
    writeFile(temp / "index.dat", damaged);
    const std::size_t left = EntriesOf(temp / "index.dat");
    EXPECT_GE(left, sound - 3);
    EXPECT_LT(left, sound);
    EXPECT_EQ(readFile(temp / "index.dat"), damaged);  // mended in memory only
}

TEST(FuzzFindings, AUrlRecordWhoseDataSizeWrapsPastFourGigabytesIsPassedOver) {
    // The library adds the data's offset and size in 32 bits: a size that
    // wraps the sum passed its check, and it copied gigabytes from past the
    // record (a crash outside the sanitizers, an out-of-memory inside).
    ASSERT_TEST_DATA(testData("msiecf/Content.IE5/index.dat"), kContentIndexBytes);
    const std::string original = readFile(testData("msiecf/Content.IE5/index.dat"));
    TempDir temp;
    std::string damaged = original;
    std::size_t changed = 0;
    for (std::size_t at = 0x5000; at + 0x80 <= damaged.size(); at += 0x80) {
        if (damaged.compare(at, 4, "URL ") == 0 && Le32(damaged, at + 0x44) != 0 && changed < 2) {
            const uint32_t offset = Le32(damaged, at + 0x44);
            PutLe32(damaged, at + 0x48, static_cast<uint32_t>(0x100000000ull - offset + 16));
            ++changed;
        }
    }
    ASSERT_EQ(changed, 2u);
    writeFile(temp / "index.dat", damaged);
    const std::size_t left = EntriesOf(temp / "index.dat");
    EXPECT_GE(left, 17u);
    EXPECT_LT(left, 19u);
}

TEST(FuzzFindings, AnIndexWithoutAFirstHashTableStillHasItsRecordStepsBounded) {
    // The library scans for records from the first hash table's offset even
    // when that offset is 0; a record of no blocks then kept the scan on one
    // spot, growing its list for ever. The steps are bounded from wherever
    // the scan starts.
    ASSERT_TEST_DATA(testData("msiecf/Content.IE5/index.dat"), kContentIndexBytes);
    const std::string original = readFile(testData("msiecf/Content.IE5/index.dat"));
    TempDir temp;
    std::string damaged = original;
    PutLe32(damaged, 0x20, 0);  // no first hash table
    std::size_t changed = 0;
    for (std::size_t at = 0x5000; at + 0x80 <= damaged.size(); at += 0x80) {
        if (damaged.compare(at, 4, "URL ") == 0 && changed < 1) {
            PutLe32(damaged, at + 4, 0);  // a record of no blocks
            ++changed;
        }
    }
    ASSERT_EQ(changed, 1u);
    writeFile(temp / "index.dat", damaged);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LE(EntriesOf(temp / "index.dat"), 19u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace

}  // namespace harvix
