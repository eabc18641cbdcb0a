#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "engine/Browsers.h"
#include "readers/FatDateTime.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "support/TestData.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

const fs::path kTestData = testData("msiecf");
const fs::path kContentIndex = kTestData / "Content.IE5" / "index.dat";
const fs::path kHistoryIndex = kTestData / "History.IE5" / "index.dat";

// Every test here reads the real indexes.
class MsiecfIndex : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TEST_DATA(kContentIndex, kContentIndexBytes);
        ASSERT_TEST_DATA(kHistoryIndex, kHistoryIndexBytes);
    }
};
const std::set<std::string> kDirectories{"ENG3X4ZR", "5ZBG4UOD", "5F9C7HL9", "F4MAMNDH"};

std::unique_ptr<UrlCacheReader> ReaderFor(const fs::path& location) {
    return std::make_unique<UrlCacheReader>(std::make_unique<MsiecfUrlCache>(location));
}

// A reader of `location` and what it read (nothing when it does not open).
struct Loaded {
    std::unique_ptr<UrlCacheReader> reader;
    Reading reading;
};

Loaded load(const fs::path& location) {
    Loaded loaded{ReaderFor(location), {}};
    if (!openCache(*loaded.reader)) {
        loaded.reading = readCache(*loaded.reader);
    }
    return loaded;
}

std::string WineCopy(const std::string& bytes) {
    std::string copy = bytes;
    const std::string signature("WINE URLCache Ver 0.2012001\0", 28);
    copy.replace(0, signature.size(), signature);
    return copy;
}

TEST_F(MsiecfIndex, ContentIndexGivesItsDownloadsWithFullLocalPaths) {
    auto reader = load(kContentIndex);
    ASSERT_EQ(reader.reading.entries.size(), 19u);

    const auto& first = *reader.reading.entries[0];
    EXPECT_EQ(first.url, "http://static-hp-neu.s-msn.com/sc/54/4f1880.ico");
    EXPECT_EQ(first.dataFile, (kTestData / "Content.IE5" / "ENG3X4ZR" / "4f1880[1].ico").string());
    EXPECT_EQ(first.size, 4286);
    EXPECT_EQ(first.contentType, 5);    // image/x-icon
    EXPECT_EQ(first.time, 1440500722);  // 2015-08-25 11:05:22 UTC, last checked
    EXPECT_EQ(first.responseTime, 1440500722);
    EXPECT_EQ(first.lastUsed, 1440500720);  // last access, not the Last-Modified of 2015-03-06
    EXPECT_EQ(first.expires, 1457727000);   // 2016-03-11 20:10:00 UTC
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.index, 0u);

    std::map<std::string, const CacheEntry*> byFile;
    for (const auto& entry : reader.reading.entries) {
        const fs::path file(entry->dataFile);
        EXPECT_EQ(file.parent_path().parent_path(), kTestData / "Content.IE5");
        EXPECT_EQ(kDirectories.count(file.parent_path().filename().string()), 1u)
            << entry->dataFile;
        EXPECT_GT(entry->time, 1440000000);
        EXPECT_LT(entry->time, 1441000000);
        EXPECT_GT(entry->size, 0);
        byFile[file.parent_path().filename().string() + "/" + file.filename().string()] =
            entry.get();
    }
    // Two records without header data (the IE11 installers) are not entries.
    EXPECT_EQ(byFile.count("ENG3X4ZR/IE11-Windows6.1-x64-en-us[1].exe"), 0u);
    ASSERT_EQ(byFile.count("F4MAMNDH/rss[2].xml"), 1u);
    EXPECT_EQ(byFile["F4MAMNDH/rss[2].xml"]->contentType, 9);  // text/xml
    EXPECT_EQ(byFile["F4MAMNDH/rss[2].xml"]->size, 32251);
    EXPECT_EQ(byFile["F4MAMNDH/rss[2].xml"]->url,
              "http://www.microsoft.com/atwork/community/rss.xml");
    ASSERT_EQ(byFile.count("F4MAMNDH/SetupPolicy[1].cab"), 1u);
    EXPECT_EQ(byFile["F4MAMNDH/SetupPolicy[1].cab"]->contentType, 0);  // octet-stream
    ASSERT_EQ(byFile.count("5ZBG4UOD/en-us[1]"), 1u);
    EXPECT_EQ(byFile["5ZBG4UOD/en-us[1]"]->contentType, 9);  // application/rss+xml
    ASSERT_EQ(byFile.count("ENG3X4ZR/IE11-Windows6.1-KB2841134-x64[1].cab"), 1u);
    EXPECT_EQ(byFile["ENG3X4ZR/IE11-Windows6.1-KB2841134-x64[1].cab"]->size, 58464861);
}

TEST_F(MsiecfIndex, AFolderThatHoldsTheIndexReadsTheSame) {
    auto byFile = load(kContentIndex);
    auto byFolder = load(kContentIndex.parent_path());
    ASSERT_EQ(byFolder.reading.entries.size(), byFile.reading.entries.size());
    for (std::size_t i = 0; i < byFile.reading.entries.size(); ++i) {
        EXPECT_EQ(byFolder.reading.entries[i]->url, byFile.reading.entries[i]->url);
        EXPECT_EQ(byFolder.reading.entries[i]->dataFile, byFile.reading.entries[i]->dataFile);
    }
}

TEST_F(MsiecfIndex, HistoryRecordsAreReadButNeverBecomeEntries) {
    MsiecfUrlCache service(kHistoryIndex);
    service.open();
    UrlCacheEntryInfo info;
    int records = 0;
    if (auto walk = service.findFirst(info)) {
        do {
            ++records;
            EXPECT_NE(info.cacheEntryType & kUrlHistoryCacheEntry, 0u) << info.sourceUrl;
            EXPECT_TRUE(info.localFileName.empty());
        } while (walk->next(info));
    }
    EXPECT_EQ(records, 15);

    auto reader = load(kHistoryIndex);
    EXPECT_TRUE(reader.reading.entries.empty());
}

TEST_F(MsiecfIndex, WineSignatureIsAcceptedAndTheIndexIsNeverWritten) {
    TempDir dir;
    fs::create_directories(dir / "Content.IE5");
    const fs::path index = dir / "Content.IE5" / "index.dat";
    const std::string wine = WineCopy(readFile(kContentIndex));
    writeFile(index, wine);
    chmod(index.c_str(), 0444);
    const auto stamp = fs::last_write_time(index);

    auto reader = load(index);
    auto original = load(kContentIndex);
    ASSERT_EQ(reader.reading.entries.size(), 19u);
    for (std::size_t i = 0; i < reader.reading.entries.size(); ++i) {
        EXPECT_EQ(reader.reading.entries[i]->url, original.reading.entries[i]->url);
        EXPECT_EQ(reader.reading.entries[i]->time, original.reading.entries[i]->time);
        EXPECT_EQ(fs::path(reader.reading.entries[i]->dataFile).parent_path().parent_path(),
                  dir / "Content.IE5");
    }
    reader.reader->close();
    EXPECT_EQ(readFile(index), wine);
    EXPECT_EQ(fs::last_write_time(index), stamp);
}

TEST_F(MsiecfIndex, DiscoveryLooksInTheWinePrefixNewLayoutFirst) {
    TempDir dir;
    FakePlatform platform;
    platform.winePrefixPath = dir / "prefix";
    platform.user = "alice";
    const fs::path user = dir / "prefix" / "drive_c" / "users" / "alice";
    const fs::path current =
        user / "AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat";
    const fs::path older = user / "Local Settings/Temporary Internet Files/Content.IE5/index.dat";

    {
        const std::optional<ErrorReport> nothing =
            openCache(*browserByWord("ie")->reader(platform, ""));
        ASSERT_TRUE(nothing);
        // Both places were looked at, the current layout first.
        EXPECT_EQ(nothing->module(), ErrorReport::IECache);
        EXPECT_EQ(nothing->path(), current.string());
        EXPECT_EQ(nothing->secondPath(), older.string());
        EXPECT_EQ(nothing->systemError(), ENOENT);
    }

    fs::create_directories(older.parent_path());
    writeFile(older, WineCopy(readFile(kContentIndex)));
    {
        MsiecfUrlCache found({}, {dir / "prefix", "alice"});
        found.open();
        EXPECT_EQ(found.indexPath(), older);
        std::unique_ptr<CacheReader> reader = browserByWord("maxthon")->reader(platform, "");
        ASSERT_FALSE(openCache(*reader));
        const Reading reading = readCache(*reader);
        ASSERT_EQ(reading.entries.size(), 19u);
        EXPECT_EQ(fs::path(reading.entries[0]->dataFile),
                  older.parent_path() / "ENG3X4ZR" / "4f1880[1].ico");
    }

    fs::create_directories(current.parent_path());
    writeFile(current, readFile(kHistoryIndex));
    MsiecfUrlCache preferred({}, {dir / "prefix", "alice"});
    preferred.open();
    EXPECT_EQ(preferred.indexPath(), current);
}

TEST_F(MsiecfIndex, InternetExplorerAndMaxthonReadTheIndexOrItsFolder) {
    TempDir dir;
    FakePlatform platform;
    platform.winePrefixPath = dir.path();
    for (const char* word : {"ie", "maxthon"}) {
        const BrowserRow& browser = *browserByWord(word);
        for (const fs::path& location : {kContentIndex, kContentIndex.parent_path()}) {
            std::unique_ptr<CacheReader> reader = browser.reader(platform, location.string());
            ASSERT_FALSE(openCache(*reader));
            EXPECT_EQ(readCache(*reader).entries.size(), 19u);
        }
        // No location: the Wine prefix in force, here one without a cache.
        EXPECT_TRUE(openCache(*browser.reader(platform, "")));
    }
}

TEST_F(MsiecfIndex, MissingTooLargeOrForeignIndexesDoNotOpen) {
    TempDir dir;
    EXPECT_TRUE(openCache(*ReaderFor(dir / "nothing.dat")));
    EXPECT_TRUE(openCache(*ReaderFor(dir.path())));  // a folder without index.dat

    // Each failure says which file and what was wrong with it.
    auto errorOf = [](const fs::path& location) {
        const std::optional<ErrorReport> failed = openCache(*ReaderFor(location));
        EXPECT_TRUE(failed);
        return failed.value_or(ErrorReport(ErrorReport::FilterCache, ErrorReport::FileOpen, ""));
    };
    writeFile(dir / "huge.dat", "");
    fs::resize_file(dir / "huge.dat", MsiecfUrlCache::kMaxIndexSize + 1);  // sparse
    EXPECT_EQ(errorOf(dir / "huge.dat").systemError(), EFBIG);
    EXPECT_EQ(errorOf(dir / "huge.dat").path(), (dir / "huge.dat").string());
    EXPECT_EQ(errorOf(dir.path()).path(), (dir / "index.dat").string());  // a folder without one
    EXPECT_EQ(errorOf(dir.path()).systemError(), ENOENT);
    writeFile(dir / "empty.dat", "");
    EXPECT_EQ(errorOf(dir / "empty.dat").systemError(), EBADMSG);

    for (const std::string& content :
         {std::string(), std::string(4096, '\0'), std::string("Client UrlCache MMF Ver 5.2\0", 28),
          std::string("<html>not an index</html>")}) {
        writeFile(dir / "foreign.dat", content);
        auto reader = load(dir / "foreign.dat");
        EXPECT_TRUE(reader.reading.entries.empty());
    }
}

// Damage anywhere gives fewer entries or none, never a crash, and never a
// local path outside the index's folder.
void ExpectSaneReading(const fs::path& index, const fs::path& container) {
    auto reader = load(index);
    EXPECT_LE(reader.reading.entries.size(), 64u);
    for (const auto& entry : reader.reading.entries) {
        const fs::path file(entry->dataFile);
        const fs::path relative = file.lexically_relative(container);
        EXPECT_FALSE(relative.empty() || *relative.begin() == "..") << entry->dataFile;
        EXPECT_LE(std::distance(relative.begin(), relative.end()), 2);
    }
}

TEST_F(MsiecfIndex, TruncatedIndexesGiveFewerEntriesOrNone) {
    TempDir dir;
    const std::string bytes = readFile(kContentIndex);
    const fs::path index = dir / "index.dat";
    for (std::size_t length = 0; length < bytes.size(); length += length < 1024 ? 61 : 509) {
        writeFile(index, bytes.substr(0, length));
        ExpectSaneReading(index, dir.path());
    }
}

TEST_F(MsiecfIndex, BitFlippedAndRandomIndexesNeverCrash) {
    TempDir dir;
    const fs::path index = dir / "index.dat";
    std::mt19937 random(20240607);
    for (const fs::path& source : {kContentIndex, kHistoryIndex}) {
        const std::string bytes = readFile(source);
        for (int round = 0; round < 300; ++round) {
            std::string damaged = bytes;
            const int flips = 1 + static_cast<int>(random() % 16);
            for (int i = 0; i < flips; ++i) {
                // Mostly the header, hash table and records; some anywhere.
                const std::size_t limit =
                    (i % 2 == 0) ? std::min<std::size_t>(damaged.size(), 0x6000) : damaged.size();
                damaged[random() % limit] ^= static_cast<char>(1u << (random() % 8));
            }
            writeFile(index, damaged);
            ExpectSaneReading(index, dir.path());
        }
    }
    // Random bytes behind a valid signature, and random bytes alone.
    for (int round = 0; round < 50; ++round) {
        std::string noise(4096 + random() % 65536, '\0');
        for (char& c : noise) {
            c = static_cast<char>(random());
        }
        if (round % 2 == 0) {
            noise.replace(0, 28, std::string("Client UrlCache MMF Ver 5.2\0", 28));
        }
        writeFile(index, noise);
        ExpectSaneReading(index, dir.path());
    }
}

TEST(MsiecfDateTime, FatDateTimeConversion) {
    // 2015-08-25 11:05:22 as the index stores it: date low, time high.
    EXPECT_EQ(UrlCacheReader::entryTime(fatDateTimeToFileTime(0x58ab4719)), 1440500722);
    EXPECT_EQ(fatDateTimeToFileTime(0), 0u);
    // 1980-01-01 00:00:00, the first FAT moment.
    EXPECT_EQ(UrlCacheReader::entryTime(fatDateTimeToFileTime(0x00000021)), 315532800);
    // 2000-02-29 is a day; 2100-02-29 is not; month 13, hour 24 and 60 seconds neither.
    EXPECT_NE(fatDateTimeToFileTime((20u << 9) | (2u << 5) | 29u), 0u);
    EXPECT_EQ(fatDateTimeToFileTime((120u << 9) | (2u << 5) | 29u), 0u);
    EXPECT_EQ(fatDateTimeToFileTime((35u << 9) | (13u << 5) | 1u), 0u);
    EXPECT_EQ(fatDateTimeToFileTime((24u << 27) | (35u << 9) | (1u << 5) | 1u), 0u);
    EXPECT_EQ(fatDateTimeToFileTime((30u << 16) | (35u << 9) | (1u << 5) | 1u), 0u);
}

}  // namespace

}  // namespace harvix
