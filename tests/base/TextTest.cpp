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

TEST(Text, PathsRoundTripAsUtf8) {
    const std::string name = "/tmp/\xD0\x9A\xD1\x8D\xD1\x88/a b.flt";
    EXPECT_EQ(pathToUtf8(pathFromUtf8(name)), name);
}

}  // namespace

}  // namespace harvix
