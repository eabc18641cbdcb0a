#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Pictures.h"
#include "filter/FilterTestSupport.h"
#include "filter/ImageSize.h"
#include "platform/FileRead.h"

namespace harvix {

namespace {

using Kind = PictureSize::Kind;

PictureSize Measure(const fs::path& path) {
    return measurePicture(path);
}

TEST(ImageSizeTest, MeasuresEachFormatByItsContentWhateverTheName) {
    TempDir dir;
    const struct {
        std::string bytes;
        int32_t width;
        int32_t height;
    } pictures[] = {
        {pngBytes(120, 80), 120, 80},
        {jpegBytes(640, 480), 640, 480},
        {gifBytes(1, 300), 1, 300},
        {bmpBytes(33, 44), 33, 44},
        {bmpBytes(33, -44), 33, 44},  // a top-down bitmap
        {icoBytes({{16, 16}, {0, 0}, {48, 48}}), 256, 256},
        {icoBytes({{32, 24}}), 32, 24},
        {mozcache::makeWebp(300, 200), 300, 200},
        {mozcache::makeAvif(300, 200), 300, 200},
        {mozcache::makeAvif(1, 3), 1, 3},
        {mozcache::makeSvg(50, 40), 50, 40},
    };
    int n = 0;
    for (const auto& picture : pictures) {
        // Names that say nothing, or the wrong thing.
        const fs::path path = dir / ("file" + std::to_string(n++) + ".all");
        writeFile(path, picture.bytes);
        const PictureSize m = Measure(path);
        EXPECT_EQ(m.kind, Kind::Measured) << path;
        EXPECT_EQ(m.width, picture.width) << path;
        EXPECT_EQ(m.height, picture.height) << path;
        // The same through a write-only descriptor standing at the end, as
        // a copy is measured before it has a name: read anew from the
        // start, the descriptor's own position untouched.
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(picture.bytes.size()));
        const PictureSize reopened = measurePicture(reopenForReading(fd));
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(picture.bytes.size()));
        ::close(fd);
        EXPECT_EQ(reopened.kind, Kind::Measured) << path;
        EXPECT_EQ(reopened.width, picture.width) << path;
    }
    EXPECT_EQ(measurePicture(reopenForReading(-1)).kind, Kind::NotMeasurable);
}

TEST(ImageSizeTest, AnythingElseOrADamagedPictureIsNotMeasurable) {
    TempDir dir;
    std::string badIco = icoBytes({{16, 16}});
    badIco[18] = '\x7F';  // the image's offset points past the end
    const std::string webp = mozcache::makeWebp(30, 20);
    std::string badWebp = webp;
    badWebp[20] = '\xFF';  // the VP8L signature byte
    const std::string avif = mozcache::makeAvif(30, 20);
    ASSERT_FALSE(avif.empty());
    // A box after the file type that claims to hold 4 GiB.
    std::string hugeBox =
        avif.substr(0, 32) + std::string("\xFF\xFF\xFF\xF0meta", 8) + std::string(64, '\0');
    const std::string notPictures[] = {
        "",
        "just some text.png",
        std::string("\x89PNG\r\n\x1a\n", 8),  // a signature, nothing more
        std::string("\0\0\1\0\0\0", 6),       // an icon of no images
        std::string("\0\0\1\0\5\0", 6),       // five images announced, none there
        badIco,
        std::string(4096, '\0'),
        webp.substr(0, 20),
        badWebp,
        avif.substr(0, 40),
        avif.substr(0, avif.size() / 2),
        hugeBox,
        "<svg width='0' height='10'/>",
        "<svg width='100' height='-1' viewBox='0 0 10 10'>",
        "<svg width='100' height='100'",  // the start tag never ends
        "<svg width=100 height=100>",     // values without quotes
        "<!DOCTYPE html><html><svg width='100' height='100'/></html>",
        "<?xml version='1.0'?><!-- never closed <svg width='100' height='100'/>",
    };
    int n = 0;
    for (const std::string& bytes : notPictures) {
        const fs::path path = dir / ("x" + std::to_string(n++) + ".png");
        writeFile(path, bytes);
        const PictureSize m = Measure(path);
        EXPECT_EQ(m.kind, Kind::NotMeasurable) << n;
        EXPECT_FALSE(m.atLeast(0, 0)) << n;
    }
    EXPECT_EQ(Measure(dir / "missing.png").kind, Kind::NotMeasurable);
    EXPECT_EQ(Measure(dir.path()).kind, Kind::NotMeasurable);
}

TEST(ImageSizeTest, AnSvgIsMeasuredByItsRootElement) {
    TempDir dir;
    const struct {
        std::string text;
        Kind kind;
        int32_t width;
        int32_t height;
    } cases[] = {
        {"<svg xmlns='http://www.w3.org/2000/svg' width='300' height='200'/>", Kind::Measured, 300,
         200},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- a > b -->\n"
         "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"x.dtd\" [ <!ENTITY a \"<b>\"> ]>\n"
         "<svg\n  width = \"99.5px\"\theight=\" 12 \" viewBox=\"0 0 1 1\">",
         Kind::Measured, 100, 12},
        {"<svg:svg xmlns:svg='http://www.w3.org/2000/svg' width='1e2' height='0.2'>",
         Kind::Measured, 100, 1},
        // Other units say nothing in pixels: the viewBox decides.
        {"<svg width='100%' height='10em' viewBox='-5,-5,640,480'>", Kind::Measured, 640, 480},
        {"<svg width='320' viewBox='0 0 640 480'>", Kind::Measured, 320, 240},
        {"<svg height='48' viewBox='0 0 24 12'>", Kind::Measured, 96, 48},
        {"<svg viewBox='0 0 1e12 5'>", Kind::Measured, INT32_MAX, 5},
        // Neither a size nor a usable viewBox: drawn at any size.
        {"<svg xmlns='http://www.w3.org/2000/svg'><rect width='5' height='5'/></svg>",
         Kind::Unsized, 0, 0},
        {"<svg width='50mm' height='20mm' viewBox='0 0 0 10'>", Kind::Unsized, 0, 0},
        {"<svg width='300'>", Kind::Unsized, 0, 0},
        {"<svgx width='300' height='300'>", Kind::NotMeasurable, 0, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path path = dir / ("s" + std::to_string(n++) + ".svg");
        writeFile(path, c.text);
        const PictureSize m = Measure(path);
        EXPECT_EQ(m.kind, c.kind) << c.text;
        EXPECT_EQ(m.width, c.width) << c.text;
        EXPECT_EQ(m.height, c.height) << c.text;
    }
    // Only the start of the file is read: a root element past it is not found.
    writeFile(dir / "late.svg", "<!--" + std::string(70000, ' ') + "--><svg width='5' height='5'>");
    EXPECT_EQ(Measure(dir / "late.svg").kind, Kind::NotMeasurable);

    PictureSize unsized;
    unsized.kind = Kind::Unsized;
    EXPECT_TRUE(unsized.atLeast(100, 100));
    const PictureSize measured{Kind::Measured, 300, 200};
    EXPECT_TRUE(measured.atLeast(300, 200));
    EXPECT_FALSE(measured.atLeast(301, 100));
    EXPECT_FALSE(measured.atLeast(100, 201));
}

TEST(ImageSizeTest, AWebpWithALargeChunkBeforeItsPictureIsMeasuredByItsCanvas) {
    TempDir dir;
    // An extended file: the canvas header, a colour profile larger than the
    // start the probe reads, then the picture of a plain file.
    const std::string plain = mozcache::makeWebp(300, 200);
    std::string body = "WEBP";
    const auto le = [](uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
        return out;
    };
    body += "VP8X" + le(10, 4) + le(0x20, 4) + le(299, 3) + le(199, 3);
    body += "ICCP" + le(100000, 4) + std::string(100000, '\0');
    body += plain.substr(12);
    const std::string file = "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
    writeFile(dir / "big.webp", file);
    const PictureSize m = Measure(dir / "big.webp");
    EXPECT_EQ(m.kind, Kind::Measured);
    EXPECT_EQ(m.width, 300);
    EXPECT_EQ(m.height, 200);
}

TEST(ImageSizeTest, TheProgramsInstanceIsAlive) {
    EXPECT_GE(ImageSize::references(), 1);
    {
        const ImageSize another;
        EXPECT_GE(ImageSize::references(), 2);
    }
    EXPECT_GE(ImageSize::references(), 1);
}

}  // namespace

}  // namespace harvix
