#include <gtest/gtest.h>

#include "base/ContentType.h"

namespace harvix {

namespace {

struct Case {
    const char* text;
    int32_t code;
};

TEST(ContentTypeTest, KeyWordsDecideInTheirOrder) {
    const Case cases[] = {
        {"image/jpeg", 1},
        {"image/pjpeg", 1},
        {"image/jpg", 1},
        {"image/gif", 2},
        {"image/png", 3},
        {"image/bmp", 4},
        {"image/x-icon", 5},
        {"image/vnd.microsoft.icon", 5},
        {"video/x-flv", 6},
        {"application/x-shockwave-flash", 7},
        {"text/html; charset=utf-8", 8},
        {"application/xhtml+xml", 8},  // html before xml
        {"image/svg+xml", 9},
        {"text/css", 10},
        {"application/javascript", 11},
        {"application/json", 11},  // holds "js"
        {"video/mpeg", 17},        // before the audio key words
        {"audio/mpeg", 12},
        {"audio/mp3", 12},
        {"audio/wav", 13},
        {"application/pdf", 14},
        {"text/plain", 15},
        {"application/zip", 16},
        {"video/x-ms-wmv", 18},
        {"image/jpeg, image/png", 1},
        {"application/octet-stream", 0},
        {"", 0},
        {"IMAGE/JPEG", 0},  // case-sensitive: the Firefox reader lower-cases first
    };
    for (const Case& c : cases) {
        EXPECT_EQ(contentTypeFromText(std::string_view(c.text)), c.code) << c.text;
        EXPECT_EQ(contentTypeFromWideText(c.text), c.code) << c.text;
        const std::string narrow(c.text);
        const std::u16string wide(narrow.begin(), narrow.end());
        EXPECT_EQ(contentTypeFromText(std::u16string_view(wide)), c.code) << c.text;
    }
}

TEST(ContentTypeTest, NonAsciiTextFindsTheSameKeyWords) {
    EXPECT_EQ(contentTypeFromWideText("bild/\xC3\xBC-png"), 3);
    EXPECT_EQ(contentTypeFromText(std::u16string_view(u"\u00fc\u4e2d/gif")), 2);
    EXPECT_EQ(contentTypeFromText(std::u16string_view(u"\u6a00png")), 3);
}

TEST(ContentTypeTest, NamesReadBackAsTheirOwnCode) {
    EXPECT_EQ(contentTypeName(0), "all");
    EXPECT_EQ(contentTypeName(15), "plain");
    EXPECT_EQ(contentTypeName(19), "all");
    EXPECT_EQ(contentTypeName(-1), "all");
    for (int32_t code = 0; code < kContentTypeCount; ++code) {
        EXPECT_EQ(contentTypeFromText(contentTypeName(code)), code) << code;
    }
}

}  // namespace

}  // namespace harvix
