#include <gtest/gtest.h>

#include <ctime>

#include "engine/Error.h"
#include "filter/ContentType.h"
#include "filter/FilterTestSupport.h"

namespace {

using Names = std::vector<std::string>;

class CombTest : public FilterTest {
protected:
    // Runs the pass; false when it threw CError.
    bool Comb() {
        try {
            return filter_.Comb(&reader_);
        } catch (const CError&) {
            return false;
        }
    }
};

TEST_F(CombTest, MatchingByTypeSizeAndUrlParts) {
    MemoryReader::Element& entry = reader_.Add("x", 1, "http://www.example.com/pic.jpg");
    CCacheFilter::CFilterItem item;
    EXPECT_TRUE(item.Matches(entry));  // type 0, size 0, no parts: everything

    item.minSize = 1000;
    entry.size = 999;
    EXPECT_FALSE(item.Matches(entry));
    entry.size = 1000;
    EXPECT_TRUE(item.Matches(entry));
    entry.size = -5;  // 2 GB or more, read as signed
    EXPECT_FALSE(item.Matches(entry));
    item.minSize = 0;

    item.contentType = 2;
    EXPECT_FALSE(item.Matches(entry));
    item.contentType = 1;
    EXPECT_TRUE(item.Matches(entry));

    item.url = "Example";
    item.ParseUrl(filter_);
    EXPECT_FALSE(item.Matches(entry));  // case-sensitive
    item.url = "nothing, example.com";
    item.ParseUrl(filter_);
    EXPECT_TRUE(item.Matches(entry));
    item.url = " , ,, ";
    item.ParseUrl(filter_);
    EXPECT_TRUE(item.Matches(entry));
    item.contentType = 99;  // a code from a damaged file matches nothing
    EXPECT_FALSE(item.Matches(entry));
}

TEST_F(CombTest, OneCopyGivesTheEntryToTheFirstItemThatKeepsIt) {
    AddItem("a", 1);
    AddItem("b", 0);
    reader_.Add("jpeg data", 1);
    reader_.Add("html data", 8);
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("a")), (Names{"file0.jpg"}));
    EXPECT_EQ(FileNames(Dir("b")), (Names{"file0.html"}));

    TheSettings().OneCopy = false;
    ASSERT_TRUE(Comb());
    // The JPEG is a duplicate in a (and goes again), and a new file in b.
    EXPECT_EQ(FileNames(Dir("a")), (Names{"file0.jpg"}));
    EXPECT_EQ(FileNames(Dir("b")), (Names{"file0.html", "file0.jpg"}));
}

TEST_F(CombTest, AFailedCopyOrADisabledItemPassesTheEntryOn) {
    AddItem("a", 1);
    AddItem("off", 1).disabled = true;
    AddItem("b", 1);
    reader_.failCopy = [&](const fs::path& target) { return target.parent_path() == Dir("a"); };
    reader_.Add("jpeg", 1);
    ASSERT_TRUE(Comb());
    EXPECT_TRUE(FileNames(Dir("a")).empty());
    EXPECT_TRUE(FileNames(Dir("off")).empty());  // made, never written into
    EXPECT_EQ(FileNames(Dir("b")), (Names{"file0.jpg"}));
}

TEST_F(CombTest, NamesShareOneCounterPerFolderAndSkipWhatIsThere) {
    fs::create_directories(Dir("t"));
    WriteFile(Dir("t") / "file0.jpg", "old0");
    WriteFile(Dir("t") / "file1.jpg", "old1");
    WriteFile(Dir("t") / "FILE3.GIF", "old3");
    AddItem("t", 1);
    AddItem("t", 2);
    reader_.Add("new jpeg", 1);
    reader_.Add("new gif", 2);
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("t")),
              (Names{"FILE3.GIF", "file0.jpg", "file1.jpg", "file2.jpg", "file4.gif"}));
    EXPECT_EQ(ReadFile(Dir("t") / "FILE3.GIF"), "old3");

    // A new run counts from 0 again.
    reader_.entries.clear();
    reader_.Add("another gif", 2);
    ASSERT_TRUE(Comb());
    EXPECT_EQ(ReadFile(Dir("t") / "file0.gif"), "another gif");
}

TEST_F(CombTest, FolderTextsThatNameOneFolderShareOneRecord) {
    fs::create_directories(fake_.home / "pics");
    fs::create_symlink(fake_.home / "pics", Dir("link"));
    const std::string home = fake_.home.string();
    AddItem(home + "/pics", 1, "f");
    AddItem(home + "/pics/", 2, "f");
    AddItem("~/pics", 3, "f");
    AddItem(home + "/./x/../pics", 4, "f");
    AddItem("link", 5, "f");
    AddItem(home + "/other", 6, "f");
    TheSettings().OneCopy = false;
    for (int32_t type = 1; type <= 5; ++type) {
        reader_.Add("data of type " + std::to_string(type), type);
    }
    ASSERT_TRUE(Comb());
    ASSERT_EQ(filter_.targetFolders.size(), 2u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(filter_.items[static_cast<std::size_t>(i)]->targetFolder, 0);
    }
    EXPECT_EQ(FileNames(fake_.home / "pics"),
              (Names{"f0.jpg", "f1.gif", "f2.png", "f3.bmp", "f4.ico"}));
    EXPECT_EQ(ReadFile(fake_.home / "pics" / "f2.png"), "data of type 3");
}

TEST_F(CombTest, ThePictureTestDropsSmallPicturesAndNonPictures) {
    auto& pictures = AddItem("p", 0);
    pictures.minWidth = 100;
    pictures.minHeight = 100;
    auto& wide = AddItem("w", 0);
    wide.minWidth = 100;                  // no height: no picture test at all
    reader_.Add(PngBytes(120, 80), 3);    // too low: dropped, number free again
    reader_.Add(JpegBytes(100, 100), 1);  // exactly the minimum: kept as file0
    reader_.Add("plain text", 15);        // no picture: not kept
    reader_.Add(GifBytes(500, 100), 2);
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("p")), (Names{"file0.jpg", "file1.gif"}));
    // What the first item refused went on to the second.
    EXPECT_EQ(FileNames(Dir("w")), (Names{"file0.png", "file1.plain"}));
}

TEST_F(CombTest, SkipDuplicatesKeepsNoSecondCopyAndCountsItAsKept) {
    fs::create_directories(Dir("a"));
    WriteFile(Dir("a") / "Saved7.JPG", "same bytes");  // a name not in lower case on disk
    WriteFile(Dir("a") / "other.jpg", "diff bytes");   // same size, other bytes
    AddItem("a", 1);
    AddItem("b", 1);
    reader_.Add("same bytes", 1);
    reader_.Add("", 1);  // an empty entry is never a duplicate
    reader_.Add("", 1);
    ASSERT_TRUE(Comb());
    // The duplicate left no file and, under One Copy, reached no later item.
    EXPECT_EQ(FileNames(Dir("a")), (Names{"Saved7.JPG", "file0.jpg", "file1.jpg", "other.jpg"}));
    EXPECT_TRUE(FileNames(Dir("b")).empty());
    EXPECT_EQ(ReadFile(Dir("a") / "file0.jpg"), "");

    // Two entries of one run with the same bytes: the second goes.
    reader_.entries.clear();
    reader_.Add("twin data!", 1);
    reader_.Add("twin data!", 1);
    reader_.Add("twin datA!", 1);
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("a")).size(), 6u);
    EXPECT_EQ(ReadFile(Dir("a") / "file2.jpg"), "twin data!");
    EXPECT_EQ(ReadFile(Dir("a") / "file3.jpg"), "twin datA!");

    // Without Skip Duplicates every run adds its copy.
    TheSettings().SkipDuplicates = false;
    ASSERT_TRUE(Comb());
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("a")).size(), 12u);
}

TEST_F(CombTest, ManySameSizeEntriesStayExact) {
    AddItem("many", 0);
    for (int i = 0; i < 300; ++i) {
        std::string data(4096, 'x');
        data.replace(0, 8, std::to_string(10000000 + i));
        reader_.Add(data, 0);
    }
    reader_.Add(std::string(4096, 'x').replace(0, 8, "10000123"), 0);  // a twin of entry 123
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("many")).size(), 300u);
}

TEST_F(CombTest, AFileThatAppearedAfterTheListingIsNotOverwritten) {
    AddItem("late", 0);
    reader_.Add("first", 0);
    reader_.Add("second", 0);
    filter_.PrepareTargetFolders();
    WriteFile(Dir("late") / "file0.all", "the user's");
    filter_.reader = &reader_;
    filter_.skipDuplicates = false;
    for (const auto& entry : reader_.entries) {
        filter_.CombEntry(*entry);
    }
    EXPECT_EQ(ReadFile(Dir("late") / "file0.all"), "the user's");
    EXPECT_EQ(ReadFile(Dir("late") / "file1.all"), "first");
    EXPECT_EQ(ReadFile(Dir("late") / "file2.all"), "second");
}

TEST_F(CombTest, StemsThatLeaveTheFolderOrMakeTooLongANameSaveNothing) {
    AddItem("s", 0, "../escape");
    AddItem("s", 0, std::string(300, 'n'));
    reader_.Add("data", 0);
    ASSERT_TRUE(Comb());
    EXPECT_TRUE(FileNames(Dir("s")).empty());
    EXPECT_EQ(FileNames(dir_.path()), (Names{"home", "prog", "s"}));
}

TEST_F(CombTest, DateFoldersAreNamedAfterTheRunsStart) {
    AddItem("~/HX_FILES/%DATE%", 0);
    reader_.Add("data", 0);
    ASSERT_TRUE(Comb());
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%d.%m.%Y", &local);
    EXPECT_EQ(FileNames(fake_.home / "HX_FILES" / day), (Names{"file0.all"}));
    EXPECT_EQ(filter_.items[0]->directoryTemplate, "~/HX_FILES/%DATE%");
}

TEST_F(CombTest, TheFolderRule) {
    EXPECT_TRUE(CCacheFilter::IsValidTargetPath("/srv/x"));
    EXPECT_TRUE(CCacheFilter::IsValidTargetPath("~/x"));
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath("/"));
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath("//"));
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath("/x/.."));
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath(""));
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath("relative/x"));
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath("C:\\HX_FILES"));
    fake_.localFolders = false;  // a network or removable place
    EXPECT_FALSE(CCacheFilter::IsValidTargetPath("/media/usb/x"));
}

TEST_F(CombTest, AFolderThatCannotBeMadeStopsTheRunWithOneBox) {
    WriteFile(Dir("file"), "a file, not a folder");
    for (const std::string& bad : {Dir("file").string() + "/sub", std::string("relative/x")}) {
        filter_.Clear();
        AddItem("good", 0);
        AddItem("", 0).directoryTemplate = bad;
        AddItem("", 1).directoryTemplate = bad;  // the same folder again: still one box
        reader_.entries.clear();
        reader_.Add("data", 0);
        ScopedRecordingNotifier recording;
        EXPECT_THROW(filter_.Comb(&reader_), CError);
        ASSERT_EQ(recording.notifier.messages.size(), 1u) << bad;
        const std::string& text = recording.notifier.messages[0].text;
        EXPECT_EQ(text.rfind("FilterCache: \nCan't create the folder:\n" + bad, 0), 0u) << text;
        EXPECT_TRUE(reader_.copies.empty());
        EXPECT_TRUE(fs::is_directory(Dir("good")));  // made before the bad one
    }
    fake_.localFolders = false;
    filter_.Clear();
    AddItem("removable", 0).disabled = true;  // even a disabled item counts
    ScopedRecordingNotifier recording;
    EXPECT_FALSE(Comb());
    EXPECT_EQ(recording.notifier.messages.size(), 1u);
    EXPECT_FALSE(fs::exists(Dir("removable")));
}

// Records the progress reports.
struct Reports {
    std::vector<int32_t> percents;
    static void Callback(std::intptr_t context, int32_t percent) {
        reinterpret_cast<Reports*>(context)->percents.push_back(percent);
    }
};

TEST_F(CombTest, ProgressClimbsWithTheShareOfCombedEntries) {
    Reports reports;
    filter_.progressCallback = &Reports::Callback;
    filter_.progressContext = reinterpret_cast<std::intptr_t>(&reports);
    AddItem("p", 99);  // matches nothing: the pass only walks
    for (int i = 0; i < 4; ++i) {
        reader_.Add("d", 0);
    }
    ASSERT_TRUE(Comb());
    EXPECT_EQ(reports.percents, (std::vector<int32_t>{25, 50, 75}));
    EXPECT_EQ(filter_.entriesToComb, 4);

    // With a since-time only the newer entries count, and the reports climb
    // with them instead of jumping to 100 at once.
    reader_.entries.clear();
    for (int i = 0; i < 300; ++i) {
        reader_.Add("d", 0, "http://x/", 500);
    }
    for (int i = 0; i < 5; ++i) {
        reader_.Add("d", 0, "http://x/", 2000);
    }
    filter_.sinceTime = 1000;
    reports.percents.clear();
    ASSERT_TRUE(Comb());
    EXPECT_EQ(filter_.entriesToComb, 5);
    EXPECT_EQ(reports.percents, (std::vector<int32_t>{20, 40, 60, 80}));

    // Many entries: each whole percentage once, never above 100.
    filter_.sinceTime = 0;
    reports.percents.clear();
    ASSERT_TRUE(Comb());
    ASSERT_EQ(reports.percents.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(reports.percents[i], static_cast<int32_t>(i + 1));
    }

    filter_.progressContext = 0;  // no context: no reports
    reports.percents.clear();
    ASSERT_TRUE(Comb());
    EXPECT_TRUE(reports.percents.empty());
}

TEST_F(CombTest, ASinceTimePassesOverOlderEntries) {
    AddItem("s", 0);
    reader_.Add("old", 0, "u", 999);
    reader_.Add("new", 0, "u", 1000);
    reader_.Add("negative", 0, "u", -5);
    filter_.sinceTime = 1000;
    ASSERT_TRUE(Comb());
    EXPECT_EQ(FileNames(Dir("s")), (Names{"file0.all"}));
    EXPECT_EQ(ReadFile(Dir("s") / "file0.all"), "new");
}

TEST_F(CombTest, EntriesAreVisitedInListOrderWhateverTheirIndex) {
    AddItem("o", 0);
    reader_.Add("one", 0).index = 0;
    reader_.Add("two", 0).index = 0;  // a reader that did not number them
    reader_.Add("three", 0).index = 7;
    ASSERT_TRUE(Comb());
    EXPECT_EQ(ReadFile(Dir("o") / "file0.all"), "one");
    EXPECT_EQ(ReadFile(Dir("o") / "file1.all"), "two");
    EXPECT_EQ(ReadFile(Dir("o") / "file2.all"), "three");
}

TEST_F(CombTest, AnEmptyReaderOrSetCombsNothing) {
    EXPECT_TRUE(Comb());  // no items, no entries
    reader_.Add("data", 0);
    EXPECT_TRUE(Comb());
    EXPECT_TRUE(reader_.copies.empty());
    AddItem("e", 0);
    reader_.entries.clear();
    EXPECT_TRUE(Comb());
    EXPECT_TRUE(fs::is_directory(Dir("e")));
}

}  // namespace
