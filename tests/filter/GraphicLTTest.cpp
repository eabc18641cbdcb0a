#include <gtest/gtest.h>

#include "filter/FilterTestSupport.h"
#include "filter/GraphicLT.h"

namespace {

struct Measured {
    bool ok;
    int32_t width;
    int32_t height;
};

Measured Measure(const fs::path& path) {
    int32_t width = -7;
    int32_t height = -7;
    const bool ok = GetImageSize(path, width, height);
    return {ok, width, height};
}

TEST(GraphicLTTest, MeasuresEachFormatByItsContentWhateverTheName) {
    TempDir dir;
    const struct {
        std::string bytes;
        int32_t width;
        int32_t height;
    } pictures[] = {
        {PngBytes(120, 80), 120, 80},
        {JpegBytes(640, 480), 640, 480},
        {GifBytes(1, 300), 1, 300},
        {BmpBytes(33, 44), 33, 44},
        {BmpBytes(33, -44), 33, 44},  // a top-down bitmap
        {IcoBytes({{16, 16}, {0, 0}, {48, 48}}), 256, 256},
        {IcoBytes({{32, 24}}), 32, 24},
    };
    int n = 0;
    for (const auto& picture : pictures) {
        // Names that say nothing, or the wrong thing.
        const fs::path path = dir / ("file" + std::to_string(n++) + ".all");
        WriteFile(path, picture.bytes);
        const Measured m = Measure(path);
        EXPECT_TRUE(m.ok) << path;
        EXPECT_EQ(m.width, picture.width) << path;
        EXPECT_EQ(m.height, picture.height) << path;
    }
}

TEST(GraphicLTTest, AnythingElseIsNoPictureAndLeavesTheOutputs) {
    TempDir dir;
    std::string badIco = IcoBytes({{16, 16}});
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
        WriteFile(path, bytes);
        const Measured m = Measure(path);
        EXPECT_FALSE(m.ok) << n;
        EXPECT_EQ(m.width, -7);
        EXPECT_EQ(m.height, -7);
    }
    EXPECT_FALSE(Measure(dir / "missing.png").ok);
    EXPECT_FALSE(Measure(dir.path()).ok);
}

TEST(GraphicLTTest, TheProgramsInstanceIsAlive) {
    EXPECT_GE(CGraphicLT::References(), 1);
    {
        const CGraphicLT another;
        EXPECT_GE(CGraphicLT::References(), 2);
    }
    EXPECT_GE(CGraphicLT::References(), 1);
}

}  // namespace
