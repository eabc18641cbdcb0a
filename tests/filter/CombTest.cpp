#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <set>

#include "BodyEncoding.h"
#include "Pictures.h"
#include "app/ErrorText.h"
#include "base/ContentType.h"
#include "base/ErrorReport.h"
#include "filter/EntrySave.h"
#include "filter/FilterTestSupport.h"
#include "platform/Path.h"
#include "readers/http/BodyDecoder.h"

namespace harvix {

namespace {

using Names = std::vector<std::string>;

using CombTest = FilterTest;

TEST_F(CombTest, MatchingByTypeSizeAndUrlParts) {
    MemoryReader::Element& entry = reader_.add("x", 1, "http://www.example.com/pic.jpg");
    FilterItem item;
    EXPECT_TRUE(item.matches(entry));  // type 0, size 0, no parts: everything

    item.minSize = 1000;
    entry.size = 999;
    EXPECT_FALSE(item.matches(entry));
    entry.size = 1000;
    EXPECT_TRUE(item.matches(entry));
    entry.size = 5'000'000'000;  // sizes are whole 64-bit numbers
    EXPECT_TRUE(item.matches(entry));
    item.minSize = 0;

    item.contentType = 2;
    EXPECT_FALSE(item.matches(entry));
    item.contentType = 1;
    EXPECT_TRUE(item.matches(entry));

    item.url = "Example";
    item.parseUrl(filter_);
    EXPECT_FALSE(item.matches(entry));  // case-sensitive
    item.url = "nothing, example.com";
    item.parseUrl(filter_);
    EXPECT_TRUE(item.matches(entry));
    item.url = " , ,, ";
    item.parseUrl(filter_);
    EXPECT_TRUE(item.matches(entry));
    item.contentType = codeOf(ContentType::Pictures);  // a group takes its members
    EXPECT_TRUE(item.matches(entry));
    item.contentType = codeOf(ContentType::Videos);
    EXPECT_FALSE(item.matches(entry));
    item.contentType = 99;  // a code from a damaged file matches nothing
    EXPECT_FALSE(item.matches(entry));
}

TEST_F(CombTest, OneCopyGivesTheEntryToTheFirstItemThatKeepsIt) {
    addItem("a", 1);
    addItem("b", 0);
    reader_.add("jpeg data", 1);
    reader_.add("html data", 8);
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("a")), (Names{"file0.jpg"}));
    EXPECT_EQ(fileNames(Dir("b")), (Names{"file0.html"}));

    options_.oneCopy = false;
    ASSERT_TRUE(comb());
    // The JPEG is a duplicate in a (and goes again), and a new file in b.
    EXPECT_EQ(fileNames(Dir("a")), (Names{"file0.jpg"}));
    EXPECT_EQ(fileNames(Dir("b")), (Names{"file0.html", "file0.jpg"}));
}

TEST_F(CombTest, AFailedCopyOrADisabledItemPassesTheEntryOn) {
    addItem("a", 1);
    addItem("off", 1).disabled = true;
    addItem("b", 1);
    int attempts = 0;  // the copy for "a" fails, the next one works
    reader_.failCopy = [&](const CacheEntry&) { return attempts++ == 0; };
    reader_.add("jpeg", 1);
    ASSERT_TRUE(comb());
    EXPECT_EQ(result_.failed, 1u);
    EXPECT_EQ(result_.kept, 1u);
    EXPECT_TRUE(fileNames(Dir("a")).empty());
    EXPECT_TRUE(fileNames(Dir("off")).empty());  // made, never written into
    EXPECT_EQ(fileNames(Dir("b")), (Names{"file0.jpg"}));
}

TEST_F(CombTest, NamesShareOneCounterPerFolderAndSkipWhatIsThere) {
    fs::create_directories(Dir("t"));
    writeFile(Dir("t") / "file0.jpg", "old0");
    writeFile(Dir("t") / "file1.jpg", "old1");
    writeFile(Dir("t") / "FILE3.GIF", "old3");
    addItem("t", 1);
    addItem("t", 2);
    reader_.add("new jpeg", 1);
    reader_.add("new gif", 2);
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("t")),
              (Names{"FILE3.GIF", "file0.jpg", "file1.jpg", "file2.jpg", "file4.gif"}));
    EXPECT_EQ(readFile(Dir("t") / "FILE3.GIF"), "old3");

    // A new run counts from 0 again.
    reader_.entries.clear();
    reader_.add("another gif", 2);
    ASSERT_TRUE(comb());
    EXPECT_EQ(readFile(Dir("t") / "file0.gif"), "another gif");
}

TEST_F(CombTest, FolderTextsThatNameOneFolderShareOneRecord) {
    fs::create_directories(fake_.home / "pics");
    fs::create_symlink(fake_.home / "pics", Dir("link"));
    const std::string home = fake_.home.string();
    addItem(home + "/pics", 1, "f");
    addItem(home + "/pics/", 2, "f");
    addItem("~/pics", 3, "f");
    addItem(home + "/./x/../pics", 4, "f");
    addItem("link", 5, "f");
    addItem(home + "/other", 6, "f");
    options_.oneCopy = false;
    for (int32_t type = 1; type <= 5; ++type) {
        reader_.add("data of type " + std::to_string(type), type);
    }
    ASSERT_TRUE(comb());
    // A folder that keeps nothing is not made.
    EXPECT_FALSE(fs::exists(fake_.home / "other"));
    EXPECT_EQ(result_.kept, 5u);
    EXPECT_EQ(fileNames(fake_.home / "pics"),
              (Names{"f0.jpg", "f1.gif", "f2.png", "f3.bmp", "f4.ico"}));
    EXPECT_EQ(readFile(fake_.home / "pics" / "f2.png"), "data of type 3");
}

TEST_F(CombTest, ThePictureTestDropsSmallPicturesAndNonPictures) {
    auto& pictures = addItem("p", codeOf(ContentType::Pictures));
    pictures.minWidth = 100;
    pictures.minHeight = 100;
    auto& wide = addItem("w", 0);
    wide.minWidth = 100;                  // no height: no picture test at all
    reader_.add(pngBytes(120, 80), 3);    // too low: dropped, number free again
    reader_.add(jpegBytes(100, 100), 1);  // exactly the minimum: kept as file0
    reader_.add("plain text", 15);        // no picture
    reader_.add(gifBytes(500, 100), 2);
    reader_.add(mozcache::makeWebp(300, 200), 19);
    reader_.add(mozcache::makeWebp(50, 40), 19);
    reader_.add(mozcache::makeAvif(99, 300), 20);
    reader_.add("<svg xmlns='http://www.w3.org/2000/svg'/>", 21);  // states no size: kept
    reader_.add(mozcache::makeSvg(20, 300), 21);
    reader_.add("II*\0 a TIFF", 0).contentTypeText = "image/tiff";  // a picture not measurable
    ASSERT_TRUE(comb());
    // Each kept under its own type's extension.
    EXPECT_EQ(fileNames(Dir("p")), (Names{"file0.jpg", "file1.gif", "file2.webp", "file3.svg"}));
    // What the first item refused went on to the second.
    EXPECT_EQ(fileNames(Dir("w")), (Names{"file0.png", "file1.plain", "file2.webp", "file3.avif",
                                          "file4.svg", "file5.all"}));
    EXPECT_EQ(result_.tooSmall, 5u);  // the plain text is no picture: no test
    EXPECT_EQ(result_.kept, 10u);
}

// The cache window's save, cancelled after its second entry: what was saved
// stays, the rest is told as not reached.
TEST_F(CombTest, ACancelledSaveKeepsWhatItSavedAndTellsWhatItLeft) {
    std::vector<const CacheEntry*> chosen;
    for (int i = 0; i < 5; ++i) {
        chosen.push_back(&reader_.add("body " + std::to_string(i), 1));
    }
    std::atomic<bool> stop{false};
    std::vector<uint64_t> counts;
    const auto results = saveEntries(
        reader_, chosen, Dir("saved").string(), "s", true, fake_,
        [&](uint64_t done, uint64_t total) {
            counts.push_back(done);
            EXPECT_EQ(total, 5u);
            stop = done == 2;
        },
        &stop);
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(counts, (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(results[1].outcome, EntrySaveResult::Outcome::Saved);
    EXPECT_EQ(results[2].outcome, EntrySaveResult::Outcome::Failed);
    EXPECT_EQ(results[4].reason, kSaveCancelled);
    EXPECT_EQ(fileNames(Dir("saved")), (Names{"s0.jpg", "s1.jpg"}));
}

TEST_F(CombTest, TheMinimumSizeOfAnEncodedBodyIsTestedOnWhatItDecodesTo) {
    // Stored gzipped, each body is far below the minimum; decoded, the first
    // reaches it and the second does not. A plain body is judged as stored.
    addItem("big").minSize = 2000;
    auto& large = reader_.add(mozcache::encodeBody("gzip", std::string(5000, 'a')), 15);
    large.encoding = ContentEncoding::Gzip;
    auto& small = reader_.add(mozcache::encodeBody("gzip", std::string(1000, 'b')), 15);
    small.encoding = ContentEncoding::Gzip;
    reader_.add(std::string(100, 'c'), 15);
    ASSERT_LT(large.size, 2000u);
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("big")), (Names{"file0.plain"}));
    EXPECT_EQ(readFile(Dir("big") / "file0.plain"), std::string(5000, 'a'));
    EXPECT_EQ(result_.tooSmall, 1u);  // the plain one is not even copied
}

TEST_F(CombTest, SkipDuplicatesKeepsNoSecondCopyAndCountsItAsKept) {
    fs::create_directories(Dir("a"));
    writeFile(Dir("a") / "Saved7.JPG", "same bytes");  // a name not in lower case on disk
    writeFile(Dir("a") / "other.jpg", "diff bytes");   // same size, other bytes
    addItem("a", 1);
    addItem("b", 1);
    reader_.add("same bytes", 1);
    reader_.add("", 1);  // an empty entry is never a duplicate
    reader_.add("", 1);
    ASSERT_TRUE(comb());
    // The duplicate left no file and, under One Copy, reached no later item.
    EXPECT_EQ(fileNames(Dir("a")), (Names{"Saved7.JPG", "file0.jpg", "file1.jpg", "other.jpg"}));
    EXPECT_TRUE(fileNames(Dir("b")).empty());
    EXPECT_EQ(readFile(Dir("a") / "file0.jpg"), "");

    // Two entries of one run with the same bytes: the second goes.
    reader_.entries.clear();
    reader_.add("twin data!", 1);
    reader_.add("twin data!", 1);
    reader_.add("twin datA!", 1);
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("a")).size(), 6u);
    EXPECT_EQ(readFile(Dir("a") / "file2.jpg"), "twin data!");
    EXPECT_EQ(readFile(Dir("a") / "file3.jpg"), "twin datA!");

    // Without Skip Duplicates every run adds its copy.
    options_.skipDuplicates = false;
    ASSERT_TRUE(comb());
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("a")).size(), 12u);
}

TEST_F(CombTest, ManySameSizeEntriesStayExact) {
    addItem("many", 0);
    for (int i = 0; i < 300; ++i) {
        std::string data(4096, 'x');
        data.replace(0, 8, std::to_string(10000000 + i));
        reader_.add(data, 0);
    }
    reader_.add(std::string(4096, 'x').replace(0, 8, "10000123"), 0);  // a twin of entry 123
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("many")).size(), 300u);
}

TEST_F(CombTest, AFileThatAppearsDuringACopyIsNeverOverwritten) {
    addItem("late", 0);
    reader_.add("first", 0);
    reader_.add("second", 0);
    // The user's file appears while the first copy is being made, after the
    // folder was listed and the number chosen.
    reader_.failCopy = [&](const CacheEntry& entry) {
        if (entry.url == reader_.entries[0]->url && !fs::exists(Dir("late") / "file0.all")) {
            writeFile(Dir("late") / "file0.all", "the user's");
        }
        return false;
    };
    reader_.entries[1]->url = "http://example.com/b";
    options_.skipDuplicates = false;
    ASSERT_TRUE(comb());
    EXPECT_EQ(readFile(Dir("late") / "file0.all"), "the user's");
    EXPECT_EQ(readFile(Dir("late") / "file1.all"), "first");
    EXPECT_EQ(readFile(Dir("late") / "file2.all"), "second");
    EXPECT_EQ(result_.kept, 2u);                   // only the files this run created
    EXPECT_EQ(fileNames(Dir("late")).size(), 3u);  // no temporary left
}

TEST_F(CombTest, StemsThatLeaveTheFolderOrMakeTooLongANameSaveNothingAndSaySo) {
    addItem("s", 0, "../escape");
    addItem("s", 0, std::string(300, 'n'));
    reader_.add("data", 0);
    reader_.add("more", 0, "http://example.com/b");
    ASSERT_TRUE(comb());
    EXPECT_TRUE(fileNames(Dir("s")).empty());
    EXPECT_EQ(fileNames(dir_.path()), (Names{"home", "prog", "s"}));
    // The stem with '/' is told once for the run, not once per entry; the
    // long one fails each copy, counted by its reason.
    ASSERT_EQ(reports_.errors.size(), 1u);
    EXPECT_EQ(reports_.errors[0].kind(), ErrorReport::BadFileName);
    EXPECT_EQ(result_.failed, 2u);
    ASSERT_EQ(result_.failures.size(), 1u);
    EXPECT_EQ(result_.failures.begin()->first, "the file name would pass 255 bytes");

    // A backslash is an ordinary character in a Linux file name.
    filter_.clear();
    addItem("s", 0, "back\\slash");
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("s")), (Names{"back\\slash0.all", "back\\slash1.all"}));
    EXPECT_TRUE(reports_.errors.empty());
}

TEST_F(CombTest, DateFoldersAreNamedAfterTheRunsStart) {
    addItem("~/HX_FILES/%DATE%", 0);
    reader_.add("data", 0);
    ASSERT_TRUE(comb());
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    std::strftime(day, sizeof day, "%d.%m.%Y", &local);
    EXPECT_EQ(fileNames(fake_.home / "HX_FILES" / day), (Names{"file0.all"}));
    EXPECT_EQ(filter_.items[0]->directoryTemplate, "~/HX_FILES/%DATE%");
}

TEST_F(CombTest, FoldersAreNormalisedAndExpandedOncePerRun) {
    // "a/b/../../kept" makes "kept" only, no stray "a/b".
    addItem("a/b/../../kept", 0);
    reader_.add("data", 0);
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("kept")), (Names{"file0.all"}));
    EXPECT_FALSE(fs::exists(Dir("a")));

    // The date and time are read once for the run: items with one template
    // share one folder whatever the clock does between them.
    filter_.clear();
    addItem("t/%DATE% %TIME%", 0);
    addItem("t/%DATE% %TIME%", 1);
    const FilterSnapshot snapshot = FilterSnapshot::take(filter_, fake_.home, 1'000'000'000);
    ASSERT_EQ(snapshot.items.size(), 2u);
    EXPECT_EQ(snapshot.items[0].directory, snapshot.items[1].directory);
    EXPECT_EQ(snapshot.items[0].directory.find('%'), std::string::npos);
}

TEST_F(CombTest, ATargetFolderInTheCacheIsRefused) {
    addItem("good", 0);
    addItem("", 0).directoryTemplate = pathToUtf8(reader_.root() / "sub");
    reader_.add("data", 0);
    EXPECT_FALSE(comb());
    ASSERT_EQ(reports_.errors.size(), 1u);
    EXPECT_EQ(reports_.errors[0].kind(), ErrorReport::TargetInCache);
    EXPECT_NE(errorBoxText(reports_.errors[0], LanguageTexts{}).find("only ever read"),
              std::string::npos);
    EXPECT_TRUE(reader_.copies.empty());
    EXPECT_TRUE(fileNames(reader_.root() / "sub").empty());
}

TEST_F(CombTest, DuplicatesCompareWholeSizesThenBytes) {
    // A file of 4 GiB + 5 bytes that starts with the entry's 5 bytes is no
    // duplicate of it (its low 32 bits of size are 5).
    fs::create_directories(Dir("d"));
    writeFile(Dir("d") / "big.all", "hello");
    fs::resize_file(Dir("d") / "big.all", (uint64_t{1} << 32) + 5);
    addItem("d", 0);
    reader_.add("hello", 0);
    ASSERT_TRUE(comb());
    EXPECT_EQ(result_.kept, 1u);
    EXPECT_EQ(readFile(Dir("d") / "file0.all"), "hello");
    // The same bytes again are a duplicate.
    ASSERT_TRUE(comb());
    EXPECT_EQ(result_.kept, 0u);
    EXPECT_EQ(result_.duplicates, 1u);
}

TEST_F(CombTest, TheFolderRule) {
    using Problem = FilterSet::PathProblem;
    const auto problem = [&](const std::string& path) {
        return FilterSet::targetPathProblem(path, fake_);
    };
    EXPECT_TRUE(FilterSet::isValidTargetPath("/srv/x", fake_));
    EXPECT_TRUE(FilterSet::isValidTargetPath("~/x", fake_));
    EXPECT_EQ(problem("/"), Problem::Root);
    EXPECT_EQ(problem("//"), Problem::Root);
    EXPECT_EQ(problem("/x/.."), Problem::Root);
    EXPECT_EQ(problem(""), Problem::Empty);
    EXPECT_EQ(problem("relative/x"), Problem::NotAbsolute);
    EXPECT_EQ(problem("C:\\HX_FILES"), Problem::NotAbsolute);
    fake_.localFolders = false;  // a network or removable place
    EXPECT_EQ(problem("/media/usb/x"), Problem::NotLocalFixed);
    EXPECT_FALSE(FilterSet::isValidTargetPath("/media/usb/x", fake_));
}

TEST_F(CombTest, AFolderThatCannotBeUsedIsToldOnce) {
    // A folder the rule refuses stops the run before anything is copied or made.
    addItem("good", 0);
    addItem("", 0).directoryTemplate = "relative/x";
    reader_.add("data", 0);
    EXPECT_FALSE(comb());
    ASSERT_EQ(reports_.errors.size(), 1u);
    std::string text = errorBoxText(reports_.errors[0], LanguageTexts{});
    EXPECT_EQ(text.rfind("FilterCache: \nCan't create the folder:\nrelative/x", 0), 0u) << text;
    // The rule decided it, no system call failed: no stale system text.
    EXPECT_EQ(reports_.errors[0].systemError(), 0);
    EXPECT_TRUE(reader_.copies.empty());
    EXPECT_FALSE(fs::exists(Dir("good")));

    // A folder that cannot be made (a file stands in its way) is found with
    // its first file: told once however many items and entries need it;
    // those entries fail, and the next item still takes them.
    writeFile(Dir("file"), "a file, not a folder");
    const std::string bad = Dir("file").string() + "/sub";
    filter_.clear();
    addItem("", 0).directoryTemplate = bad;
    addItem("", 1).directoryTemplate = bad;
    addItem("good", 0);
    reader_.add("more", 1);
    EXPECT_TRUE(comb());
    ASSERT_EQ(reports_.errors.size(), 1u);
    text = errorBoxText(reports_.errors[0], LanguageTexts{});
    EXPECT_EQ(text.rfind("FilterCache: \nCan't create the folder:\n" + bad, 0), 0u) << text;
    EXPECT_EQ(result_.failed, 3u);  // "data" once, "more" for both items
    EXPECT_EQ(fileNames(Dir("good")), (Names{"file0.all", "file1.jpg"}));

    // A disabled item's folder (an unplugged drive) stops nothing.
    fake_.localFolders = false;
    filter_.clear();
    addItem("removable", 0).disabled = true;
    EXPECT_TRUE(comb());
    EXPECT_TRUE(reports_.errors.empty());
    EXPECT_FALSE(fs::exists(Dir("removable")));
}

TEST_F(CombTest, ProgressClimbsWithTheShareOfCombedEntries) {
    addItem("p", 99);  // matches nothing: the pass only walks
    for (int i = 0; i < 4; ++i) {
        reader_.add("d", 0);
    }
    ASSERT_TRUE(comb());
    EXPECT_EQ(reports_.percents, (std::vector<int32_t>{25, 50, 75}));
    EXPECT_EQ(result_.entriesCombed, 4u);

    // With a since-time only the newer entries count, and the reports climb
    // with them instead of jumping to 100 at once.
    reader_.entries.clear();
    for (int i = 0; i < 300; ++i) {
        reader_.add("d", 0, "http://x/", 500);
    }
    for (int i = 0; i < 5; ++i) {
        reader_.add("d", 0, "http://x/", 2000);
    }
    options_.sinceTime = 1000;
    ASSERT_TRUE(comb());
    EXPECT_EQ(result_.entriesCombed, 5u);
    EXPECT_EQ(reports_.percents, (std::vector<int32_t>{20, 40, 60, 80}));

    // Many entries: each whole percentage once, never above 100.
    options_.sinceTime = 0;
    ASSERT_TRUE(comb());
    ASSERT_EQ(reports_.percents.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(reports_.percents[i], static_cast<int32_t>(i + 1));
    }
}

TEST_F(CombTest, ASinceTimePassesOverOlderEntries) {
    addItem("s", 0);
    reader_.add("old", 0, "u", 999);
    reader_.add("new", 0, "u", 1000);
    reader_.add("negative", 0, "u", -5);
    options_.sinceTime = 1000;
    ASSERT_TRUE(comb());
    EXPECT_EQ(fileNames(Dir("s")), (Names{"file0.all"}));
    EXPECT_EQ(readFile(Dir("s") / "file0.all"), "new");
}

TEST_F(CombTest, EntriesAreVisitedInListOrderWhateverTheirIndex) {
    addItem("o", 0);
    reader_.add("one", 0).index = 0;
    reader_.add("two", 0).index = 0;  // a reader that did not number them
    reader_.add("three", 0).index = 7;
    ASSERT_TRUE(comb());
    EXPECT_EQ(readFile(Dir("o") / "file0.all"), "one");
    EXPECT_EQ(readFile(Dir("o") / "file1.all"), "two");
    EXPECT_EQ(readFile(Dir("o") / "file2.all"), "three");
}

TEST_F(CombTest, CopiesMadeAheadAreNamedAndToldInEntryOrder) {
    // One Copy over two items: some copies for "a" fail and pass their entry
    // on to "b", some fail for both, some are duplicates. A run whose copies
    // are made on worker threads names, counts and tells exactly as a run
    // that copies one entry after the other, in the site's tree too (where
    // the workers make the folders and the entries share three names).
    addItem("a", 0);
    addItem("b", 0);
    for (int i = 0; i < 120; ++i) {
        reader_.add(i % 13 == 0 ? "same" : "entry " + std::to_string(i), 0,
                    "http://x/p" + std::to_string(i % 3) + "#" + std::to_string(i));
    }
    std::set<std::string> tried;  // bodySource calls are serialised by the reader
    reader_.failCopy = [&](const CacheEntry& entry) {
        const int i = std::stoi(entry.url.substr(entry.url.find('#') + 1));
        return i % 7 == 3 || (i % 5 == 1 && tried.insert(entry.url).second);
    };
    struct Outcome {
        Names a, b;
        std::vector<std::string> kept, contents;
        uint64_t failed = 0, duplicates = 0;
    };
    const auto run = [&](unsigned workers) {
        fs::remove_all(Dir("a"));
        fs::remove_all(Dir("b"));
        tried.clear();
        options_.copyWorkers = workers;
        EXPECT_TRUE(comb());
        Outcome outcome{fileNames(Dir("a")), fileNames(Dir("b")), reports_.kept, {},
                        result_.failed,      result_.duplicates};
        for (const std::string& path : reports_.kept) {
            outcome.contents.push_back(readFile(path));
        }
        return outcome;
    };
    for (const bool siteTree : {false, true}) {
        options_.siteTree = siteTree;
        const Outcome alone = run(0);
        // 3, 10, ..., 115 fail for both items; 1, 6, ..., 116 once (but 31, 66, 101).
        EXPECT_EQ(alone.failed, 2u * 17u + 21u);
        if (!siteTree) {
            // "same" (0, 13, ..., 117): named in "a", then in "b" (26, whose
            // copy for "a" failed), failed (52), duplicates (the other seven).
            EXPECT_EQ(alone.duplicates, 7u);
            EXPECT_EQ(alone.contents.front(), "same");
            EXPECT_EQ(readFile(Dir("b") / "file0.all"), "entry 1");
        } else {
            // Compared with the file of the same place only: "same" at p0
            // (39, 78, 117) finds entry 0 there; 13 is the third at p1.
            EXPECT_EQ(alone.duplicates, 3u);
            EXPECT_EQ(readFile(Dir("a") / "x" / "p1_2"), "same");
            EXPECT_EQ(readFile(Dir("b") / "x" / "p1"), "entry 1");
        }
        for (const unsigned workers : {1u, 3u}) {
            const Outcome ahead = run(workers);
            EXPECT_EQ(ahead.a, alone.a);
            EXPECT_EQ(ahead.b, alone.b);
            EXPECT_EQ(ahead.kept, alone.kept);
            EXPECT_EQ(ahead.contents, alone.contents);
            EXPECT_EQ(ahead.failed, alone.failed);
            EXPECT_EQ(ahead.duplicates, alone.duplicates);
        }
    }
}

TEST_F(CombTest, AStopKeepsTheEntriesBeforeItAndNothingMadeAhead) {
    addItem("s", 0);
    for (int i = 0; i < 200; ++i) {
        reader_.add("data " + std::to_string(i), 0, "http://x/" + std::to_string(i));
    }
    std::atomic<bool> stop{false};
    struct StopAfterTen : CombObserver {
        std::atomic<bool>* stop = nullptr;
        int kept = 0;
        void keptFile(const CacheEntry&, const std::string&) override {
            if (++kept == 10) {
                *stop = true;
            }
        }
    } observer;
    observer.stop = &stop;
    const CombResult result =
        runComb(reader_, reader_.view(), FilterSnapshot::take(filter_, fake_.home, 0), options_,
                observer, fake_, &stop);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.kept, 10u);
    EXPECT_EQ(result.entriesCombed, 10u);
    // The copies made ahead of the stop went unnamed and left nothing.
    const Names names = fileNames(Dir("s"));
    ASSERT_EQ(names.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(readFile(Dir("s") / ("file" + std::to_string(i) + ".all")),
                  "data " + std::to_string(i));
    }
    EXPECT_LT(reader_.copies.size(), 200u);  // the workers stopped copying too
}

TEST_F(CombTest, AnEmptyReaderOrSetCombsNothing) {
    EXPECT_TRUE(comb());  // no items, no entries
    reader_.add("data", 0);
    EXPECT_TRUE(comb());
    EXPECT_TRUE(reader_.copies.empty());
    addItem("e", 0);
    reader_.entries.clear();
    EXPECT_TRUE(comb());
    EXPECT_FALSE(fs::exists(Dir("e")));  // made with its first file only
}

}  // namespace

}  // namespace harvix
