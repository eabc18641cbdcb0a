// The cache writer and its description format: the files it lays out, the
// pictures it draws, and the description errors it reports.
#include <gtest/gtest.h>

#include <sstream>

#include "CacheWriter.h"
#include "Description.h"
#include "Pictures.h"
#include "support/TestSupport.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wduplicated-branches"
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
#include <stb/stb_image.h>

namespace harvix {
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
    return (uint32_t{static_cast<uint8_t>(bytes[at])} << 24) |
           (uint32_t{static_cast<uint8_t>(bytes[at + 1])} << 16) |
           (uint32_t{static_cast<uint8_t>(bytes[at + 2])} << 8) |
           uint32_t{static_cast<uint8_t>(bytes[at + 3])};
}

// Decodes a picture completely; returns false when stb refuses it.
bool Decodes(const std::string& bytes, int* width, int* height) {
    int channels = 0;
    unsigned char* pixels =
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                              static_cast<int>(bytes.size()), width, height, &channels, 0);
    stbi_image_free(pixels);
    return pixels != nullptr;
}

TEST(Pictures, EveryFormatDecodesAtItsSize) {
    for (const char* format : {"png", "gif", "bmp", "jpeg"}) {
        for (const auto& [w, h] :
             {std::pair{1, 1}, std::pair{7, 13}, std::pair{640, 480}, std::pair{300, 17}}) {
            int width = 0;
            int height = 0;
            ASSERT_TRUE(Decodes(mozcache::makePicture(format, w, h, 3), &width, &height))
                << format << " " << w << "x" << h << ": " << stbi_failure_reason();
            EXPECT_EQ(width, w) << format;
            EXPECT_EQ(height, h) << format;
        }
    }
}

TEST(Pictures, AnIconHoldsOnePngOfItsSize) {
    const std::string ico = mozcache::makeIco(48, 32);
    ASSERT_GT(ico.size(), 22u);
    EXPECT_EQ(ico.substr(0, 6), std::string("\0\0\1\0\1\0", 6));
    EXPECT_EQ(static_cast<uint8_t>(ico[6]), 48);
    EXPECT_EQ(static_cast<uint8_t>(ico[7]), 32);
    int width = 0;
    int height = 0;
    ASSERT_TRUE(Decodes(ico.substr(22), &width, &height));
    EXPECT_EQ(width, 48);
    EXPECT_EQ(height, 32);
    EXPECT_EQ(static_cast<uint8_t>(mozcache::makeIco(256, 256)[6]), 0);  // 0 stands for 256
}

TEST(CacheWriter, LaysOutTheMapTheBlockFilesAndSeparateFiles) {
    TempDir temp;
    const fs::path cache = temp / "Cache";
    mozcache::Record small;
    mozcache::Record large;
    {
        mozcache::CacheWriter writer(cache);
        mozcache::Entry entry;
        entry.key = "HTTP:http://a.org/s";
        entry.data = std::string(600, 's');  // three blocks of 256 bytes
        small = writer.add(entry);
        entry.key = "HTTP:http://a.org/l";
        entry.data = std::string(20000, 'l');
        entry.hash = 0x0A1B2C3D;
        entry.generation = 0x1F;
        large = writer.add(entry);
        writer.addRawRecord({0, 0, 0x21000005u, 0, ""});
    }
    const std::string map = readFile(cache / "_CACHE_MAP_");
    ASSERT_EQ(map.size(), 276u + 3 * 16);
    EXPECT_EQ(BigEndian32(map, 8), 2u);   // entries in use
    EXPECT_EQ(BigEndian32(map, 16), 3u);  // records
    EXPECT_EQ(BigEndian32(map, 276), small.hash);
    EXPECT_EQ(BigEndian32(map, 276 + 8), small.dataLocation);
    EXPECT_EQ(BigEndian32(map, 276 + 16), 0x0A1B2C3Du);
    EXPECT_EQ(BigEndian32(map, 276 + 40), 0x21000005u);

    // Data blocks 0-2 and the metadata in block 3 of file 1: four bits.
    EXPECT_EQ(small.dataLocation, 0x92000000u);
    EXPECT_EQ(small.metaLocation, 0x90000003u);
    const std::string blocks = readFile(cache / "_CACHE_001_");
    EXPECT_EQ(blocks.size(), 4096u + 5 * 256);
    EXPECT_EQ(static_cast<uint8_t>(blocks[3]), 0x1F);  // the large entry's metadata is block 4
    EXPECT_EQ(blocks.substr(4096, 600), std::string(600, 's'));
    EXPECT_EQ(readFile(cache / "_CACHE_002_").size(), 4096u);

    EXPECT_EQ(large.dataLocation, 0x8000001Fu);
    EXPECT_EQ(large.dataFile, "0/A1/B2C3Dd1F");
    EXPECT_EQ(readFile(cache / "0" / "A1" / "B2C3Dd1F"), std::string(20000, 'l'));

    // The metadata item names its own location and the data size.
    const std::string meta = blocks.substr(4096 + 3 * 256, 256);
    EXPECT_EQ(BigEndian32(meta, 4), small.metaLocation);
    EXPECT_EQ(BigEndian32(meta, 24), 600u);
    EXPECT_EQ(meta.substr(36, 20), std::string("HTTP:http://a.org/s\0", 20));
}

TEST(CacheWriter, SeparateFileNamesFollowEachLayout) {
    using mozcache::Layout;
    EXPECT_EQ(mozcache::separateFileName(0x0A1B2C3D, 12, 'd', Layout::Decimal), "0A1B2C3Dd12");
    EXPECT_EQ(mozcache::separateFileName(0x0A1B2C3D, 12, 'd', Layout::Hex), "0A1B2C3Dd0C");
    EXPECT_EQ(mozcache::separateFileName(0x0A1B2C3D, 0x1F, 'm', Layout::Nested), "0/A1/B2C3Dm1F");
}

TEST(CacheWriter, AFullBlockFileIsReportedWhenAskedForAndAvoidedOtherwise) {
    TempDir temp;
    mozcache::CacheWriter writer(temp / "Cache");
    mozcache::Entry entry;
    entry.key = "HTTP:http://a.org/";
    entry.data = std::string(16384, 'x');  // four blocks of file 3
    entry.dataPlace = mozcache::Place::Block3;
    entry.metaPlace = mozcache::Place::Block1;
    for (uint32_t i = 0; i < mozcache::CacheWriter::kBlocksPerFile / 4; ++i) {
        writer.add(entry);
    }
    EXPECT_THROW(writer.add(entry), mozcache::WriteError);
    entry.dataPlace = mozcache::Place::Auto;
    EXPECT_EQ(writer.add(entry).dataLocation >> 28 & 3u, 0u);  // a separate file instead
}

TEST(CacheDescription, ReadsEntriesEmptyRecordsAndTheMapTail) {
    std::istringstream text(
        "# sample\n"
        "[entry]\n"
        "url = http://a.org/p.png\n"
        "type = image/png\n"
        "data = png 20 10\n"
        "store = separate\n"
        "layout = hex\n"
        "generation = 0x1F\n"
        "note = kept\n"
        "\n"
        "[empty]\n"
        "[entry]\n"
        "key = wyciwyg://x\n"
        "head = HTTP/1.1 200 OK\\nContent-Type: text/html\\n\n"
        "data = text a\\tb\\x41\\0z\n"
        "size = 0\n"
        "[map]\n"
        "trailing-bytes = 5\n");
    const mozcache::Description description = mozcache::readDescription(text, ".");
    ASSERT_EQ(description.records.size(), 3u);
    const mozcache::Entry& png = description.records[0].entry;
    EXPECT_EQ(png.key, "HTTP:http://a.org/p.png");
    EXPECT_EQ(png.data.substr(1, 3), "PNG");
    EXPECT_EQ(png.dataPlace, mozcache::Place::Separate);
    EXPECT_EQ(png.layout, mozcache::Layout::Hex);
    EXPECT_EQ(png.generation, 0x1F);
    EXPECT_EQ(description.records[0].note, "kept");
    ASSERT_EQ(png.values.size(), 2u);
    EXPECT_EQ(png.values[1].second,
              "HTTP/1.1 200 OK\r\nServer: Apache/2.2.22\r\nContent-Type: "
              "image/png\r\nContent-Length: " +
                  std::to_string(png.data.size()) + "\r\n");
    EXPECT_TRUE(description.records[1].emptyRecord);
    EXPECT_TRUE(description.records[1].entry.zeroHash);
    const mozcache::Entry& odd = description.records[2].entry;
    EXPECT_EQ(odd.key, "wyciwyg://x");
    EXPECT_EQ(odd.values[1].second, "HTTP/1.1 200 OK\nContent-Type: text/html\n");
    EXPECT_EQ(odd.data, std::string("a\tbA\0z", 6));
    EXPECT_EQ(odd.dataSize, 0u);
    EXPECT_EQ(description.trailingBytes.size(), 5u);
}

TEST(CacheDescription, MalformedLinesAreReportedWithTheirNumber) {
    const char* bad[] = {
        "[entry]\nurl = x\nstore = block9\n", "[entry]\nsize = many\n",
        "url = before any section\n",         "[entry]\ndata = png 10\n",
        "[entry]\ncolour = blue\n",           "[entries]\n",
        "[entry]\ngeneration = 300\n",        "[map]\ntrailing-bytes = 16\n",
        "[entry]\nno equals sign\n",
    };
    for (const char* description : bad) {
        std::istringstream text(description);
        try {
            mozcache::readDescription(text, ".");
            ADD_FAILURE() << description;
        } catch (const mozcache::WriteError& error) {
            EXPECT_NE(std::string(error.what()).find("line "), std::string::npos) << description;
        }
    }
}

}  // namespace

}  // namespace harvix
