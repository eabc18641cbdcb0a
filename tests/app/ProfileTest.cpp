#include <gtest/gtest.h>

#include "app/Profile.h"
#include "platform/AtomicFile.h"
#include "support/TestSupport.h"

namespace {

TEST(ProfileRead, NamesMatchWithoutCaseAndFirstOccurrenceWins) {
    TempDir dir;
    WriteFile(dir / "a.ini",
              "[general]\nKey=first\nkey=second\n[GENERAL]\nkey=third\n[Other]\nKey=other\n");
    const ProfileFile p = ProfileFile::Load(dir / "a.ini");
    EXPECT_EQ(p.Get("GENERAL", "KEY"), "first");
    EXPECT_EQ(p.Get("other", "key"), "other");
    EXPECT_EQ(p.Get("missing", "key", "dflt"), "dflt");
    EXPECT_EQ(p.Get("general", "nokey", "dflt"), "dflt");
    EXPECT_EQ(ReadProfileString(dir / "none.ini", "GENERAL", "Key", "d"), "d");
}

TEST(ProfileRead, BlanksAndOnePairOfQuotesAreRemoved) {
    TempDir dir;
    WriteFile(dir / "a.ini",
              "  [ S ]  \n  k1 =  value with blanks  \nk2=\"quoted\"\nk3='single'\n"
              "k4=\"\"twice\"\"\nk5=\"unbalanced\nk6=a=b=c\nk7=\nno equals sign\n");
    const ProfileFile p = ProfileFile::Load(dir / "a.ini");
    EXPECT_EQ(p.Get("S", "k1"), "value with blanks");
    EXPECT_EQ(p.Get("S", "k2"), "quoted");
    EXPECT_EQ(p.Get("S", "k3"), "single");
    EXPECT_EQ(p.Get("S", "k4"), "\"twice\"");
    EXPECT_EQ(p.Get("S", "k5"), "\"unbalanced");
    EXPECT_EQ(p.Get("S", "k6"), "a=b=c");
    EXPECT_EQ(p.Get("S", "k7", "d"), "");
}

TEST(ProfileRead, ValuesAreCutAt2598Characters) {
    TempDir dir;
    std::string longValue(3000, 'x');
    // Multi-byte characters count as one each and are never split.
    std::string wide;
    for (int i = 0; i < 2600; ++i) {
        wide += "\xC3\xA9";  // é
    }
    WriteFile(dir / "a.ini", "[S]\nlong=" + longValue + "\nwide=" + wide + "\n");
    const ProfileFile p = ProfileFile::Load(dir / "a.ini");
    EXPECT_EQ(p.Get("S", "long").size(), 2598u);
    EXPECT_EQ(p.Get("S", "wide").size(), 2598u * 2);
}

TEST(ProfileRead, Utf16AndWindows1252FilesLoad) {
    TempDir dir;
    // UTF-16 LE with mark, CRLF line ends.
    const std::string text =
        "[GENERAL]\r\nName=Stra\xDF"
        "e\r\n";
    std::string utf16 = "\xFF\xFE";
    for (const char ch : text) {
        utf16.push_back(ch);
        utf16.push_back('\0');
    }
    WriteFile(dir / "u16.ini", utf16);
    EXPECT_EQ(ReadProfileString(dir / "u16.ini", "general", "name"),
              "Stra\xC3\x9F"
              "e");
    // Not valid UTF-8: read as Windows-1252 (0x80 is the euro sign).
    WriteFile(dir / "cp.ini", "[G]\nv=\x80 5\n");
    EXPECT_EQ(ReadProfileString(dir / "cp.ini", "G", "v"), "\xE2\x82\xAC 5");
    // A UTF-8 mark is skipped.
    WriteFile(dir / "bom.ini", "\xEF\xBB\xBF[G]\nv=1\n");
    EXPECT_EQ(ReadProfileString(dir / "bom.ini", "G", "v"), "1");
}

TEST(ProfileWrite, ReplacesInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    const fs::path file = dir / "a.ini";
    WriteFile(file, "; comment\n[A]\nx=1\n; inner comment\ny=2\n\n[B]\nz=3\n");
    ASSERT_TRUE(WriteProfileString(file, "a", "X", "10"));
    EXPECT_EQ(ReadFile(file), "; comment\n[A]\nX=10\n; inner comment\ny=2\n\n[B]\nz=3\n");
}

TEST(ProfileWrite, MissingKeyGoesToTheEndOfItsSectionAndMissingSectionToTheEnd) {
    TempDir dir;
    const fs::path file = dir / "a.ini";
    WriteFile(file, "[A]\nx=1\n\n[B]\nz=3\n");
    ASSERT_TRUE(WriteProfileString(file, "A", "new", "v"));
    ASSERT_TRUE(WriteProfileString(file, "C", "k", "w"));
    EXPECT_EQ(ReadFile(file), "[A]\nx=1\nnew=v\n\n[B]\nz=3\n\n[C]\nk=w\n");
}

TEST(ProfileWrite, CreatesAMissingFileAndKeepsCrlfFiles) {
    TempDir dir;
    ASSERT_TRUE(WriteProfileString(dir / "new.ini", "GENERAL", "k", "v"));
    EXPECT_EQ(ReadFile(dir / "new.ini"), "[GENERAL]\nk=v\n");
    WriteFile(dir / "crlf.ini", "[G]\r\na=1\r\n");
    ASSERT_TRUE(WriteProfileString(dir / "crlf.ini", "G", "b", "2"));
    EXPECT_EQ(ReadFile(dir / "crlf.ini"), "[G]\r\na=1\r\nb=2\r\n");
}

TEST(ProfileWrite, LineBreaksInAValueCannotAddLines) {
    TempDir dir;
    ASSERT_TRUE(WriteProfileString(dir / "a.ini", "G", "k", "one\n[Evil]\nx=1"));
    EXPECT_EQ(ReadProfileString(dir / "a.ini", "Evil", "x", "none"), "none");
    EXPECT_EQ(ReadProfileString(dir / "a.ini", "G", "k"), "one [Evil] x=1");
}

TEST(ProfileWrite, AFailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const fs::path file = dir / "a.ini";
    const std::string original = "[G]\nk=old\nother=keep\n";
    WriteFile(file, original);
    SetAtomicWriteFailureForTesting(5);
    EXPECT_FALSE(WriteProfileString(file, "G", "k", "new"));
    SetAtomicWriteFailureForTesting(-1);
    EXPECT_EQ(ReadFile(file), original);
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(ProfileWrite, ASymbolicLinkIsFollowedAndKept) {
    TempDir dir;
    WriteFile(dir / "real.ini", "[G]\nk=1\n");
    fs::create_symlink(dir / "real.ini", dir / "link.ini");
    ASSERT_TRUE(WriteProfileString(dir / "link.ini", "G", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[G]\nk=2\n");
}

TEST(ProfileWrite, AnUnreadableFileIsNeverReplaced) {
    TempDir dir;
    fs::create_directory(dir / "folder.ini");
    EXPECT_FALSE(WriteProfileString(dir / "folder.ini", "G", "k", "v"));
    EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));
}

}  // namespace
