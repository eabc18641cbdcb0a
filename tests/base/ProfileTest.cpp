#include <gtest/gtest.h>

#include "base/Profile.h"
#include "platform/AtomicFile.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

TEST(ProfileRead, NamesMatchWithoutCaseAndFirstOccurrenceWins) {
    TempDir dir;
    writeFile(dir / "a.ini",
              "[general]\nKey=first\nkey=second\n[GENERAL]\nkey=third\n[Other]\nKey=other\n");
    const ProfileFile p = ProfileFile::load(dir / "a.ini");
    EXPECT_EQ(p.get("GENERAL", "KEY"), "first");
    EXPECT_EQ(p.get("other", "key"), "other");
    EXPECT_EQ(p.get("missing", "key", "dflt"), "dflt");
    EXPECT_EQ(p.get("general", "nokey", "dflt"), "dflt");
    EXPECT_EQ(readProfileString(dir / "none.ini", "GENERAL", "Key", "d"), "d");
}

TEST(ProfileRead, BlanksAndOnePairOfQuotesAreRemoved) {
    TempDir dir;
    writeFile(dir / "a.ini",
              "  [ S ]  \n  k1 =  value with blanks  \nk2=\"quoted\"\nk3='single'\n"
              "k4=\"\"twice\"\"\nk5=\"unbalanced\nk6=a=b=c\nk7=\nno equals sign\n");
    const ProfileFile p = ProfileFile::load(dir / "a.ini");
    EXPECT_EQ(p.get("S", "k1"), "value with blanks");
    EXPECT_EQ(p.get("S", "k2"), "quoted");
    EXPECT_EQ(p.get("S", "k3"), "single");
    EXPECT_EQ(p.get("S", "k4"), "\"twice\"");
    EXPECT_EQ(p.get("S", "k5"), "\"unbalanced");
    EXPECT_EQ(p.get("S", "k6"), "a=b=c");
    EXPECT_EQ(p.get("S", "k7", "d"), "");
}

TEST(ProfileRead, ValuesAreCutAt2598Characters) {
    TempDir dir;
    std::string longValue(3000, 'x');
    // Multi-byte characters count as one each and are never split.
    std::string wide;
    for (int i = 0; i < 2600; ++i) {
        wide += "\xC3\xA9";  // é
    }
    writeFile(dir / "a.ini", "[S]\nlong=" + longValue + "\nwide=" + wide + "\n");
    const ProfileFile p = ProfileFile::load(dir / "a.ini");
    EXPECT_EQ(p.get("S", "long").size(), 2598u);
    EXPECT_EQ(p.get("S", "wide").size(), 2598u * 2);
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
    writeFile(dir / "u16.ini", utf16);
    EXPECT_EQ(readProfileString(dir / "u16.ini", "general", "name"),
              "Stra\xC3\x9F"
              "e");
    // Not valid UTF-8: read as Windows-1252 (0x80 is the euro sign).
    writeFile(dir / "cp.ini", "[G]\nv=\x80 5\n");
    EXPECT_EQ(readProfileString(dir / "cp.ini", "G", "v"), "\xE2\x82\xAC 5");
    // A UTF-8 mark is skipped.
    writeFile(dir / "bom.ini", "\xEF\xBB\xBF[G]\nv=1\n");
    EXPECT_EQ(readProfileString(dir / "bom.ini", "G", "v"), "1");
}

TEST(ProfileWrite, ReplacesInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    const fs::path file = dir / "a.ini";
    writeFile(file, "; comment\n[A]\nx=1\n; inner comment\ny=2\n\n[B]\nz=3\n");
    ASSERT_TRUE(writeProfileString(file, "a", "X", "10"));
    EXPECT_EQ(readFile(file), "; comment\n[A]\nX=10\n; inner comment\ny=2\n\n[B]\nz=3\n");
}

TEST(ProfileWrite, MissingKeyGoesToTheEndOfItsSectionAndMissingSectionToTheEnd) {
    TempDir dir;
    const fs::path file = dir / "a.ini";
    writeFile(file, "[A]\nx=1\n\n[B]\nz=3\n");
    ASSERT_TRUE(writeProfileString(file, "A", "new", "v"));
    ASSERT_TRUE(writeProfileString(file, "C", "k", "w"));
    EXPECT_EQ(readFile(file), "[A]\nx=1\nnew=v\n\n[B]\nz=3\n\n[C]\nk=w\n");
}

TEST(ProfileWrite, CreatesAMissingFileAndKeepsCrlfFiles) {
    TempDir dir;
    ASSERT_TRUE(writeProfileString(dir / "new.ini", "GENERAL", "k", "v"));
    EXPECT_EQ(readFile(dir / "new.ini"), "[GENERAL]\nk=v\n");
    writeFile(dir / "crlf.ini", "[G]\r\na=1\r\n");
    ASSERT_TRUE(writeProfileString(dir / "crlf.ini", "G", "b", "2"));
    EXPECT_EQ(readFile(dir / "crlf.ini"), "[G]\r\na=1\r\nb=2\r\n");
}

TEST(ProfileWrite, LineBreaksInAValueCannotAddLines) {
    TempDir dir;
    ASSERT_TRUE(writeProfileString(dir / "a.ini", "G", "k", "one\n[Evil]\nx=1"));
    EXPECT_EQ(readProfileString(dir / "a.ini", "Evil", "x", "none"), "none");
    EXPECT_EQ(readProfileString(dir / "a.ini", "G", "k"), "one [Evil] x=1");
}

TEST(ProfileWrite, AFailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const fs::path file = dir / "a.ini";
    const std::string original = "[G]\nk=old\nother=keep\n";
    writeFile(file, original);
    setAtomicWriteFailureForTesting(5);
    EXPECT_FALSE(writeProfileString(file, "G", "k", "new"));
    setAtomicWriteFailureForTesting(-1);
    EXPECT_EQ(readFile(file), original);
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(ProfileWrite, ASymbolicLinkIsFollowedAndKept) {
    TempDir dir;
    writeFile(dir / "real.ini", "[G]\nk=1\n");
    fs::create_symlink(dir / "real.ini", dir / "link.ini");
    ASSERT_TRUE(writeProfileString(dir / "link.ini", "G", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(readFile(dir / "real.ini"), "[G]\nk=2\n");
}

TEST(ProfileWrite, AnUnreadableFileIsNeverReplaced) {
    TempDir dir;
    fs::create_directory(dir / "folder.ini");
    EXPECT_FALSE(writeProfileString(dir / "folder.ini", "G", "k", "v"));
    EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));
}

}  // namespace

}  // namespace harvix
