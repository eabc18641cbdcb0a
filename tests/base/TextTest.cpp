#include <gtest/gtest.h>

#include "base/Text.h"
#include "platform/Path.h"

namespace harvix {

namespace {

TEST(Text, Windows1252WidensEveryByte) {
    EXPECT_EQ(cp1252ToUtf8("plain ascii"), "plain ascii");
    EXPECT_EQ(cp1252ToUtf8("\x80\x9F\xE9\xFF"), "\xE2\x82\xAC\xC5\xB8\xC3\xA9\xC3\xBF");
    EXPECT_EQ(cp1252ToUtf8("\x81"), "\xEF\xBF\xBD");  // unassigned
    EXPECT_EQ(cp1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Text, Utf8ValidationRejectsOverlongsSurrogatesAndCutSequences) {
    EXPECT_TRUE(isValidUtf8("\xC3\xA9\xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
}

TEST(Text, Utf16DecodesPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(utf16ToUtf8(std::string("\x3D\xD8\x00\xDE", 4), false), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(std::string("\xD8\x3D\xDE\x00", 4), true), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(std::string("\x3D\xD8"
                                      "A\0",
                                      4),
                          false),
              "\xEF\xBF\xBD"
              "A");
    EXPECT_EQ(utf16ToUtf8(std::string("A\0B", 3), false), "A");  // odd byte dropped
}

TEST(Text, TruncationCountsCharacters) {
    EXPECT_EQ(truncateUtf8("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(truncateUtf8("abc", 10), "abc");
    EXPECT_EQ(truncateUtf8("abc", 0), "");
}

TEST(Text, LeadingIntegerReadsLikeTheCLibraryWithoutOverflow) {
    EXPECT_EQ(leadingInteger("42abc"), 42);
    EXPECT_EQ(leadingInteger("  -17"), -17);
    EXPECT_EQ(leadingInteger("+5"), 5);
    EXPECT_EQ(leadingInteger("abc"), 0);
    EXPECT_EQ(leadingInteger(""), 0);
    EXPECT_EQ(leadingInteger("- 5"), 0);
    EXPECT_EQ(leadingInteger("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(leadingInteger("-99999999999999999999999"), INT64_MIN);
}

TEST(Text, ByteSizesReadAsPeopleWriteThemAndJunkIsRefused) {
    EXPECT_EQ(parseByteSize("0"), 0);
    EXPECT_EQ(parseByteSize(" 2048 "), 2048);
    EXPECT_EQ(parseByteSize("100k"), 102400);
    EXPECT_EQ(parseByteSize("100 KiB"), 102400);
    EXPECT_EQ(parseByteSize("100kB"), 100000);
    EXPECT_EQ(parseByteSize("2 MB"), 2000000);
    EXPECT_EQ(parseByteSize("2M"), 2097152);
    EXPECT_EQ(parseByteSize("1.5 MiB"), 1572864);
    EXPECT_EQ(parseByteSize("1,5 k"), 1536);
    EXPECT_EQ(parseByteSize("3g"), 3221225472);
    EXPECT_EQ(parseByteSize("12 b"), 12);
    EXPECT_EQ(parseByteSize("0.3"), 0);  // a part of a byte is no byte
    for (const char* junk : {"", "  ", "k", "-5", "+5", "100 x", "100kk", "1.2.3", "12 bytes!",
                             "99999999999999999999", "9999999999G"}) {
        EXPECT_EQ(parseByteSize(junk), std::nullopt) << junk;
    }
}

TEST(Text, PathsRoundTripAsUtf8) {
    const std::string name = "/tmp/\xD0\x9A\xD1\x8D\xD1\x88/a b.flt";
    EXPECT_EQ(pathToUtf8(pathFromUtf8(name)), name);
}

}  // namespace

}  // namespace harvix
