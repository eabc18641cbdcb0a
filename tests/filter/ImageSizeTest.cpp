#include <gtest/gtest.h>

#include "filter/FilterTestSupport.h"
#include "filter/ImageSize.h"

namespace harvix {

namespace {

struct Measured {
    bool ok;
    int32_t width;
    int32_t height;
};

Measured Measure(const fs::path& path) {
    int32_t width = -7;
    int32_t height = -7;
    const bool ok = getImageSize(path, width, height);
    return {ok, width, height};
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
    };
    int n = 0;
    for (const auto& picture : pictures) {
        // Names that say nothing, or the wrong thing.
        const fs::path path = dir / ("file" + std::to_string(n++) + ".all");
        writeFile(path, picture.bytes);
        const Measured m = Measure(path);
        EXPECT_TRUE(m.ok) << path;
        EXPECT_EQ(m.width, picture.width) << path;
        EXPECT_EQ(m.height, picture.height) << path;
    }
}

TEST(ImageSizeTest, AnythingElseIsNoPictureAndLeavesTheOutputs) {
    TempDir dir;
    std::string badIco = icoBytes({{16, 16}});
    badIco[18] = '\x7F';  // the image's offset points past the end
    const std::string notPictures[] = {
        "",
        "just some text.png",
        std::string("\x89PNG\r\n\x1a\n", 8),  // a signature, nothing more
        std::string("\0\0\1\0\0\0", 6),       // an icon of no images
        std::string("\0\0\1\0\5\0", 6),       // five images announced, none there
        badIco,
        std::string(4096, '\0'),
        "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'/>",
    };
    int n = 0;
    for (const std::string& bytes : notPictures) {
        const fs::path path = dir / ("x" + std::to_string(n++) + ".png");
        writeFile(path, bytes);
        const Measured m = Measure(path);
        EXPECT_FALSE(m.ok) << n;
        EXPECT_EQ(m.width, -7);
        EXPECT_EQ(m.height, -7);
    }
    EXPECT_FALSE(Measure(dir / "missing.png").ok);
    EXPECT_FALSE(Measure(dir.path()).ok);
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
