// What the fuzz targets found, each pinned down with the bytes that showed
// it (the inputs themselves are also in fuzz/regressions/).
#include <gtest/gtest.h>

#include <string>

#include "Pictures.h"
#include "filter/GraphicLT.h"
#include "support/TestSupport.h"

namespace {

// A JPEG whose first segment after the start marker is a Huffman table
// (DHT) with the given sixteen symbol counts, followed by the rest of a
// sound 16 x 8 JPEG.
std::string JpegWithHuffmanTable(const std::string& counts) {
    const std::string sound = mozcache::MakeJpeg(16, 8);
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
    WriteFile(temp / "cached", bytes);
    return GetImageSize(temp / "cached", width, height);
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
    EXPECT_TRUE(Measure(mozcache::MakeJpeg(640, 480), width, height));
    EXPECT_EQ(width, 640);
}

}  // namespace
