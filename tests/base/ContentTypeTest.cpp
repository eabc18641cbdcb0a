#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "base/ContentType.h"

namespace harvix {

namespace {

struct Case {
    const char* text;
    int32_t code;
};

TEST(ContentTypeTest, KeyWordsDecideInTheirOrderWhateverTheCase) {
    const Case cases[] = {
        {"image/jpeg", 1},
        {"image/pjpeg", 1},
        {"IMAGE/JPEG", 1},
        {"Image/Png", 3},
        {"image/gif", 2},
        {"image/bmp", 4},
        {"image/vnd.microsoft.icon", 5},
        {"video/x-flv", 6},
        {"application/x-shockwave-flash", 7},
        {"text/html; charset=utf-8", 8},
        {"application/xhtml+xml", 8},  // html before xml
        {"image/svg+xml", 21},         // svg before xml
        {"application/rss+xml", 9},
        {"text/css", 10},
        {"application/javascript", 11},
        {"text/js", 11},
        {"application/json", 24},  // "js" does not match inside "json"
        {"application/manifest+json; charset=utf-8", 24},
        {"video/mpeg", 17},  // before the audio key words
        {"audio/mpeg", 12},
        {"audio/wav", 13},
        {"application/pdf", 14},
        {"text/plain", 15},
        {"application/zip", 16},
        {"video/x-ms-wmv", 18},
        {"image/webp", 19},
        {"image/avif", 20},
        {"video/mp4", 22},
        {"audio/mp4", 22},
        {"video/webm", 23},
        {"audio/webm", 23},
        {"font/woff2", 25},
        {"application/font-woff", 25},
        {"image/jpeg, image/png", 1},
        {"application/octet-stream", 0},
        {"image/tiff", 0},
        {"", 0},
        {"bild/\xC3\xBC-png", 3},  // UTF-8 around a key word
        {"\xE4\xF6/gif", 2},       // 8-bit text
    };
    for (const Case& c : cases) {
        EXPECT_EQ(contentTypeCode(c.text), c.code) << c.text;
    }
}

TEST(ContentTypeTest, AStoredResponseHeadIsReadByItsContentTypeLine) {
    EXPECT_EQ(contentTypeCode("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n~U:user\r\n"), 3);
    // Key words in other lines (a host name, a session cookie) do not count.
    EXPECT_EQ(contentTypeCode("HTTP/1.1 200 OK\r\nX-Origin: cdn.gif-host.example\r\n"
                              "content-type: IMAGE/PNG\r\nSet-Cookie: JSESSIONID=1\r\n"),
              3);
    EXPECT_EQ(contentTypeCode("HTTP/1.1 200 OK\nCONTENT-TYPE: application/octet-stream\n"
                              "Set-Cookie: JSESSIONID=1\n"),
              0);
    // Without a Content-Type line the whole text is searched, as before.
    EXPECT_EQ(contentTypeCode("HTTP/1.1 200 OK\r\nX-Type: image/gif\r\n"), 2);
}

TEST(ContentTypeTest, NamesAndCodesReadBackAsTheirOwnType) {
    EXPECT_EQ(contentTypeName(0), "all");
    EXPECT_EQ(contentTypeName(15), "plain");
    EXPECT_EQ(contentTypeName(21), "svg");
    EXPECT_EQ(contentTypeName(30), "pictures");
    for (const int32_t unknown : {-1, 26, 29, 33, 99}) {
        EXPECT_EQ(contentTypeName(unknown), "all") << unknown;
        EXPECT_EQ(contentTypeInfo(unknown), nullptr) << unknown;
        EXPECT_FALSE(contentTypeFromName(std::to_string(unknown))) << unknown;
    }
    for (const ContentTypeInfo& row : contentTypes()) {
        const int32_t code = codeOf(row.type);
        const std::string name = contentTypeName(code);
        EXPECT_EQ(contentTypeFromName(name), code) << name;
        EXPECT_EQ(contentTypeFromName(std::to_string(code)), code) << code;
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_EQ(contentTypeFromName(upper), code) << upper;
        // A saved file's extension says its type again (groups name no entry).
        if (!isContentTypeGroup(code) && code != 0) {
            EXPECT_EQ(contentTypeCode(name), code) << name;
        }
    }
    for (const char* word : {"", "jp", "jpgs", "0x3", "+3", " 3", "1000"}) {
        EXPECT_FALSE(contentTypeFromName(word)) << word;
    }
}

TEST(ContentTypeTest, TheEditorsListHoldsEveryTypeOnceWithTheGroupsFirst) {
    const std::vector<int32_t> order = contentTypeListOrder();
    EXPECT_EQ(std::vector<int32_t>(order.begin(), order.begin() + 4),
              (std::vector<int32_t>{30, 31, 32, 0}));
    EXPECT_EQ(std::set<int32_t>(order.begin(), order.end()).size(), order.size());
    EXPECT_EQ(order.size(), contentTypes().size());
    for (int32_t code = 0; code <= 25; ++code) {
        EXPECT_NE(std::find(order.begin(), order.end(), code), order.end()) << code;
    }
}

TEST(ContentTypeTest, AGroupTakesEveryEntryOfItsKind) {
    const int32_t pictures = codeOf(ContentType::Pictures);
    const int32_t videos = codeOf(ContentType::Videos);
    const int32_t sounds = codeOf(ContentType::Sounds);
    const struct {
        int32_t code;
        const char* text;
        int32_t group;  // 0: none
    } cases[] = {
        {1, "image/jpeg", pictures},
        {21, "image/svg+xml", pictures},
        {19, "", pictures},  // no text kept (the URL cache): the code says it
        {5, "", pictures},
        {0, "image/tiff", pictures},  // no code, but an image
        {0, " Image/HEIC", pictures},
        {22, "video/mp4", videos},
        {22, "audio/mp4", sounds},  // one code, two groups
        {23, "audio/webm; codecs=opus", sounds},
        {22, "", videos},
        {22, "application/mp4", videos},
        {6, "", videos},
        {18, "video/x-ms-wmv", videos},
        {12, "audio/mpeg", sounds},
        {0, "audio/ogg", sounds},
        {7, "application/x-shockwave-flash", 0},
        {8, "text/html", 0},
        {0, "", 0},
        {0, "imagery", 0},
    };
    for (const auto& c : cases) {
        for (const int32_t group : {pictures, videos, sounds}) {
            EXPECT_EQ(contentTypeMatches(group, c.code, c.text), group == c.group)
                << c.code << " " << c.text << " in " << group;
        }
        EXPECT_TRUE(contentTypeMatches(0, c.code, c.text));
        EXPECT_EQ(contentTypeMatches(c.code, c.code, c.text), true);
        EXPECT_FALSE(contentTypeMatches(99, c.code, c.text));
    }
    EXPECT_FALSE(contentTypeMatches(3, 1, "image/png"));  // a single type goes by the code
}

}  // namespace

}  // namespace harvix
