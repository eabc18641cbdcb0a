// The Firefox disk cache reader over caches written by the cache writer:
// opening and discovery, the map walk, and copying both kinds of data,
// sound and damaged.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <memory>
#include <random>
#include <string>

#include "CacheWriter.h"
#include "app/Settings.h"
#include "base/ErrorReport.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "readers/FirefoxCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

using Element = FirefoxCacheEntry;
using mozcache::CacheWriter;
using mozcache::Place;

mozcache::Entry Http(const std::string& url, const std::string& data,
                     const std::string& type = "image/png") {
    mozcache::Entry entry;
    entry.key = "HTTP:" + url;
    entry.data = data;
    entry.values = mozcache::responseValues(mozcache::ResponseHead({"Content-Type: " + type}));
    entry.lastModified = 1325376000;
    return entry;
}

std::string Bytes(std::size_t count, char seed) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(seed + static_cast<char>(i * 7 % 251));
    }
    return bytes;
}

class FirefoxCacheReaderTest : public ::testing::Test {
protected:
    TempDir temp;
    fs::path cache = temp / "Cache";
    fs::path out = temp / "out";
    FirefoxCacheReader reader;
    Reading reading;

    void SetUp() override { fs::create_directories(out); }

    // Opens the written cache and reads its entries.
    void load() {
        reader.cacheFolder = pathToUtf8(cache);
        ASSERT_FALSE(openCache(reader));
        reading = readCache(reader);
    }
    Element& At(std::size_t i) { return dynamic_cast<Element&>(*reading.entries.at(i)); }
    bool Copy(std::size_t i, const std::string& name) {
        return copyEntry(reader, *reading.entries.at(i), out / name);
    }
    // Files in the target folder, hidden ones included.
    std::vector<std::string> OutFiles() {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(out)) {
            names.push_back(item.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

// ---- Opening and discovery ----

TEST_F(FirefoxCacheReaderTest, AFolderWithoutTheCacheFilesFailsWithOneBoxAndClosesTheReader) {
    fs::create_directories(cache);
    reader.cacheFolder = pathToUtf8(cache);
    const std::optional<ErrorReport> failed = openCache(reader);
    // The report names the folder tried; reading it shows nothing.
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->kind(), ErrorReport::CacheOpen);
    EXPECT_EQ(failed->path(), pathToUtf8(cache));
    EXPECT_EQ(failed->systemError(), ENOENT);
    EXPECT_FALSE(reader.opened);
    reader.close();
    reading = readCache(reader);
    EXPECT_TRUE(reading.entries.empty());
    // A remembered folder is not replaced by a discovery.
    EXPECT_EQ(reader.cacheFolder, pathToUtf8(cache));
}

TEST_F(FirefoxCacheReaderTest, EachMissingFileStopsTheOpen) {
    for (const char* missing : {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_", "_CACHE_003_"}) {
        { CacheWriter writer(cache); }
        fs::remove(cache / missing);
        FirefoxCacheReader fresh;
        fresh.cacheFolder = pathToUtf8(cache);
        const std::optional<ErrorReport> failed = openCache(fresh);
        ASSERT_TRUE(failed.has_value()) << missing;
        EXPECT_EQ(fs::path(failed->secondPath()).filename(), missing);
    }
}

TEST_F(FirefoxCacheReaderTest, AFifoOrAFolderInPlaceOfACacheFileFailsWithoutWaiting) {
    { CacheWriter writer(cache); }
    fs::remove(cache / "_CACHE_MAP_");
    ASSERT_EQ(mkfifo((cache / "_CACHE_MAP_").c_str(), 0600), 0);
    reader.cacheFolder = pathToUtf8(cache);
    EXPECT_TRUE(openCache(reader));
    fs::remove(cache / "_CACHE_MAP_");
    fs::create_directory(cache / "_CACHE_MAP_");
    EXPECT_TRUE(openCache(reader));
    // A map that is a link out of the cache is refused too.
    fs::remove(cache / "_CACHE_MAP_");
    writeFile(temp / "elsewhere", std::string(276, '\0'));
    fs::create_symlink(temp / "elsewhere", cache / "_CACHE_MAP_");
    EXPECT_TRUE(openCache(reader));
}

TEST_F(FirefoxCacheReaderTest, WithoutAFolderNothingIsOpenedHere) {
    FakePlatform platform;
    platform.localAppData = temp / "nothing";
    ScopedPlatform scoped(platform);
    // Cache files in the current folder are never picked up: not by a reader
    // without a folder, not by the browser table finding no profile.
    const fs::path previous = fs::current_path();
    { CacheWriter writer(temp.path()); }
    fs::current_path(temp.path());
    FirefoxCacheReader findCache;
    const std::optional<ErrorReport> failed = openCache(findCache);
    const std::optional<ErrorReport> discovered =
        openCache(*browserByWord("firefox")->reader(platform, ""));
    fs::current_path(previous);
    EXPECT_EQ(findCache.cacheFolder, "");
    ASSERT_TRUE(failed.has_value() && discovered.has_value());
    EXPECT_EQ(failed->path(), "");
    EXPECT_EQ(discovered->path(), "");
}

TEST_F(FirefoxCacheReaderTest, TheFirefoxRowReadsTheNamedOrRememberedFolderElseTheProfileInUse) {
    FakePlatform platform;
    platform.home = temp / "home";
    platform.localAppData = temp / "cache";
    ScopedPlatform scoped(platform);
    // A folder named now is read as named, cache or not.
    const BrowserRow& firefox = *browserByWord("firefox");
    EXPECT_EQ(&firefox, browserByWord("mozilla"));
    auto given = firefox.readerAt(platform, "/given/Cache");
    EXPECT_EQ(given->cacheLocation(), "/given/Cache");
    EXPECT_EQ(firefox.reader(platform, "")->cacheLocation(), "");
    EXPECT_EQ(firefox.reader(platform, "/remembered/gone")->cacheLocation(), "/remembered/gone");

    // A remembered folder that no longer holds a cache (a profile removed)
    // gives way to the profile Firefox uses now; one that holds a cache wins.
    writeFile(temp / "home" / ".mozilla" / "firefox" / "profiles.ini",
              "[Profile0]\nName=default\nIsRelative=1\nPath=abcd.default\nDefault=1\n");
    const fs::path found = temp / "cache" / "mozilla" / "firefox" / "abcd.default" / "cache2";
    fs::create_directories(found / "entries");
    EXPECT_EQ(firefox.reader(platform, "/remembered/gone")->cacheLocation(), found.string());
    EXPECT_EQ(firefox.readerAt(platform, "/remembered/gone")->cacheLocation(), "/remembered/gone");
    { CacheWriter writer(cache); }
    EXPECT_EQ(firefox.reader(platform, cache.string())->cacheLocation(), cache.string());
}

// ---- The map walk ----

TEST_F(FirefoxCacheReaderTest, AMapWithOnlyItsHeaderYieldsNoEntries) {
    { CacheWriter writer(cache); }
    ASSERT_EQ(fs::file_size(cache / "_CACHE_MAP_"), 276u);
    load();
    EXPECT_TRUE(reading.entries.empty());
}

TEST_F(FirefoxCacheReaderTest, EntriesKeepMapOrderAndCarryTheirMetadata) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/1.png", Bytes(300, 'a'), "image/png"));
        writer.add(Http("http://a.org/2.css", Bytes(3000, 'b'), "text/css"));
        writer.add(Http("http://a.org/3.jpg", Bytes(9000, 'c'), "image/jpeg"));
        writer.add(Http("http://a.org/4.js", Bytes(70000, 'd'), "application/javascript"));
    }
    load();
    ASSERT_EQ(reading.entries.size(), 4u);
    EXPECT_EQ(At(0).url, "http://a.org/1.png");
    EXPECT_EQ(At(0).contentType, 3);
    EXPECT_EQ(At(0).dataFile, "_CACHE_001");
    EXPECT_EQ(At(0).dataLength, 512u);
    EXPECT_EQ(At(1).dataFile, "_CACHE_002");
    EXPECT_EQ(At(1).contentType, 10);
    EXPECT_EQ(At(2).dataFile, "_CACHE_003");
    EXPECT_EQ(At(2).size, 9000);
    EXPECT_EQ(At(3).dataFileIndex, 0u);
    EXPECT_EQ(At(3).contentType, 11);
    EXPECT_EQ(At(3).dataFile.size(), 11u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(At(i).index, i);
        EXPECT_EQ(At(i).metaFileIndex, 1u);
        EXPECT_EQ(At(i).time, 1325376000);
    }
}

TEST_F(FirefoxCacheReaderTest, UnusableRecordsAreSkipped) {
    {
        CacheWriter writer(cache);
        auto zero = Http("http://a.org/zero-hash.png", Bytes(100, 'z'));
        zero.zeroHash = true;
        writer.add(zero);
        auto foreign = Http("http://a.org/foreign.png", Bytes(100, 'f'));
        foreign.key = "wyciwyg://0/http://a.org/";
        writer.add(foreign);
        writer.add(Http("http://a.org/empty.png", ""));
        auto noSize = Http("http://a.org/nosize.png", Bytes(100, 'n'));
        noSize.dataSize = 0;
        writer.add(noSize);
        writer.add(Http("http://a.org/kept.png", Bytes(100, 'k')));
        writer.setTrailingBytes("0123456789");  // a partial record
    }
    load();
    ASSERT_EQ(reading.entries.size(), 1u);
    EXPECT_EQ(At(0).url, "http://a.org/kept.png");
}

TEST_F(FirefoxCacheReaderTest, LocationWordsAreDecodedAsTheFormatSays) {
    {
        CacheWriter writer(cache);
        auto block = Http("http://a.org/b", Bytes(100, 'b'));
        block.dataLocation = 0x21000005u;  // file 2, two blocks, first block 5
        writer.add(block);
        auto separate = Http("http://a.org/s", Bytes(100, 's'));
        separate.hash = 0x0A1B2C3Du;
        separate.dataLocation = 12;  // separate file, generation 12
        writer.add(separate);
    }
    load();
    ASSERT_EQ(reading.entries.size(), 2u);
    EXPECT_EQ(At(0).dataFile, "_CACHE_002");
    EXPECT_EQ(At(0).dataFileIndex, 2u);
    EXPECT_EQ(At(0).dataOffset, 9216u);
    EXPECT_EQ(At(0).dataLength, 2048u);
    EXPECT_EQ(At(1).dataFile, "0A1B2C3Dd12");
    EXPECT_EQ(At(1).dataFileIndex, 0u);
}

TEST_F(FirefoxCacheReaderTest, MetadataInASeparateFileIsListedWithoutUrlAndSize) {
    {
        CacheWriter writer(cache);
        auto entry = Http("http://a.org/m.png", Bytes(500, 'm'));
        entry.metaPlace = Place::Separate;
        writer.add(entry);
    }
    load();
    ASSERT_EQ(reading.entries.size(), 1u);
    EXPECT_EQ(At(0).metaFileIndex, 0u);
    EXPECT_EQ(At(0).url, "");
    EXPECT_EQ(At(0).size, 0);
    EXPECT_EQ(At(0).dataFile, "_CACHE_001");
    // Its block data has no size to write: the copy fails and leaves nothing.
    EXPECT_FALSE(Copy(0, "file0.all"));
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(FirefoxCacheReaderTest, MetadataPastTheEndOfItsBlockFileDropsTheRecord) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/ok", Bytes(100, 'o')));  // data block 0, metadata 1
        auto far = Http("http://a.org/far", Bytes(100, 'f'));  // data block 2
        far.metaLocation = mozcache::blockLocation(3, 0x00FFFFFF, 4);
        writer.add(far);
        auto straddling = Http("http://a.org/straddling", Bytes(100, 's'));  // data block 3
        straddling.metaLocation = mozcache::blockLocation(1, 3, 4);          // blocks 3 to 6 of 4
        writer.add(straddling);
    }
    ASSERT_EQ(fs::file_size(cache / "_CACHE_001_"), 4096u + 4 * 256);
    load();
    ASSERT_EQ(reading.entries.size(), 1u);
    EXPECT_EQ(At(0).url, "http://a.org/ok");
}

TEST_F(FirefoxCacheReaderTest, RecordsSharingMetadataBlocksCountOnce) {
    {
        CacheWriter writer(cache);
        const auto first = writer.add(Http("http://a.org/first", Bytes(100, 'a')));
        for (int i = 0; i < 50; ++i) {
            mozcache::Record copy = first;
            copy.hash = 1000u + static_cast<uint32_t>(i);
            writer.addRawRecord(copy);
        }
    }
    load();
    ASSERT_EQ(reading.entries.size(), 1u);
}

TEST_F(FirefoxCacheReaderTest, ReadingBeforeOpenOrAfterCloseGivesNothing) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/a", Bytes(100, 'a')));
    }
    reader.cacheFolder = pathToUtf8(cache);
    reading = readCache(reader);
    EXPECT_TRUE(reading.entries.empty());
    ASSERT_FALSE(openCache(reader));
    reader.close();
    reading = readCache(reader);
    EXPECT_TRUE(reading.entries.empty());
}

// ---- Copying ----

TEST_F(FirefoxCacheReaderTest, BlockDataIsCopiedAtItsExactSize) {
    const std::string small = Bytes(300, 'a');
    const std::string large = Bytes(16384, 'c');  // four whole blocks of file 3
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/a", small));
        writer.add(Http("http://a.org/c", large));
    }
    load();
    EXPECT_TRUE(Copy(0, "a.png"));
    EXPECT_TRUE(Copy(1, "c.png"));
    EXPECT_EQ(readFile(out / "a.png"), small);
    EXPECT_EQ(readFile(out / "c.png"), large);
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"a.png", "c.png"}));
}

TEST_F(FirefoxCacheReaderTest, ASizeBeyondItsBlocksOrAShortBlockReadIsAFailedCopy) {
    {
        CacheWriter writer(cache);
        auto entry = Http("http://a.org/a", Bytes(200, 'a'));
        entry.dataSize = 100000;  // the record claims more than its blocks hold
        writer.add(entry);
        auto last = Http("http://a.org/last", Bytes(700, 'l'));
        last.metaPlace = Place::Block2;
        writer.add(last);
    }
    // The block file ends in the middle of the last item.
    fs::resize_file(cache / "_CACHE_001_", fs::file_size(cache / "_CACHE_001_") - 500);
    load();
    ASSERT_EQ(reading.entries.size(), 2u);
    // A record that claims more than its blocks hold, and data cut short by
    // the end of the block file (268 of 700 bytes), keep nothing.
    EXPECT_FALSE(Copy(0, "a.png"));
    EXPECT_FALSE(Copy(1, "last.png"));
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(FirefoxCacheReaderTest, DataPastTheEndOfItsBlockFileLeavesNoFile) {
    {
        CacheWriter writer(cache);
        auto entry = Http("http://a.org/a", Bytes(200, 'a'));
        entry.dataLocation = mozcache::blockLocation(2, 30000, 1);
        writer.add(entry);
    }
    load();
    ASSERT_EQ(reading.entries.size(), 1u);
    writeFile(out / "kept.png", "old");
    EXPECT_FALSE(Copy(0, "new.png"));
    EXPECT_FALSE(copyEntry(reader, *reading.entries[0], out / "kept.png"));
    EXPECT_EQ(readFile(out / "kept.png"), "old");
    EXPECT_EQ(OutFiles(), std::vector<std::string>{"kept.png"});
}

TEST_F(FirefoxCacheReaderTest, SeparateFilesAreFoundUnderEveryNameFirefoxUses) {
    const std::string data = Bytes(50000, 's');
    {
        CacheWriter writer(cache);
        for (const auto layout :
             {mozcache::Layout::Decimal, mozcache::Layout::Hex, mozcache::Layout::Nested}) {
            auto entry = Http("http://a.org/" + std::to_string(static_cast<int>(layout)), data);
            entry.generation = 0x1F;  // 31: "31" in decimal, "1F" in hexadecimal
            entry.layout = layout;
            writer.add(entry);
        }
    }
    load();
    ASSERT_EQ(reading.entries.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(At(i).dataFile.substr(8), "d31");
        EXPECT_TRUE(Copy(i, "f" + std::to_string(i))) << i;
        EXPECT_EQ(readFile(out / ("f" + std::to_string(i))), data) << i;
    }
    EXPECT_EQ(FirefoxCacheReader::separateFileNames(0x0A1B2C3Du, 0x1F, 'd'),
              (std::vector<std::string>{"0A1B2C3Dd31", "0A1B2C3Dd1F", "0/A1/B2C3Dd1F"}));
}

TEST_F(FirefoxCacheReaderTest, AMissingSeparateFileFailsAndLeavesNothing) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/big", Bytes(40000, 'b')));
    }
    load();
    ASSERT_EQ(reading.entries.size(), 1u);
    fs::remove_all(cache / At(0).dataFile.substr(0, 1));
    EXPECT_FALSE(Copy(0, "big.png"));
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(FirefoxCacheReaderTest, CopiesNeverReplaceAnExistingFile) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/s", Bytes(100, 's')));
        writer.add(Http("http://a.org/l", Bytes(30000, 'l')));
    }
    load();
    for (std::size_t i = 0; i < 2; ++i) {
        const fs::path target = out / ("t" + std::to_string(i));
        writeFile(target, "previous content");
        EXPECT_FALSE(Copy(i, "t" + std::to_string(i)));
        EXPECT_EQ(readFile(target), "previous content");
        fs::remove(target);
        EXPECT_TRUE(Copy(i, "t" + std::to_string(i)));
    }
    EXPECT_EQ(readFile(out / "t0"), Bytes(100, 's'));
    EXPECT_EQ(readFile(out / "t1"), Bytes(30000, 'l'));
    EXPECT_EQ(OutFiles(), (std::vector<std::string>{"t0", "t1"}));
}

TEST_F(FirefoxCacheReaderTest, AWriteThatFailsHalfwayLeavesNoPartialFile) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/s", Bytes(3000, 's')));
        writer.add(Http("http://a.org/l", Bytes(300000, 'l')));
    }
    load();
    // Files may grow to 1000 bytes only: both copies fail in the middle.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool blockCopied = Copy(0, "s");
    const bool separateCopied = Copy(1, "l");
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(blockCopied);
    EXPECT_FALSE(separateCopied);
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(FirefoxCacheReaderTest, AMissingTargetFolderFailsForBothKindsOfData) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/s", Bytes(100, 's')));
        writer.add(Http("http://a.org/l", Bytes(30000, 'l')));
    }
    load();
    EXPECT_FALSE(copyEntry(reader, *reading.entries[0], out / "missing" / "a"));
    EXPECT_FALSE(copyEntry(reader, *reading.entries[1], out / "missing" / "b"));
    EXPECT_FALSE(fs::exists(out / "missing"));
}

TEST_F(FirefoxCacheReaderTest, ClosingReleasesTheFilesAndCopiesOfBlockDataThenFail) {
    {
        CacheWriter writer(cache);
        writer.add(Http("http://a.org/s", Bytes(100, 's')));
    }
    load();
    reader.close();
    reader.close();
    EXPECT_FALSE(Copy(0, "s"));
    EXPECT_TRUE(OutFiles().empty());
}

TEST_F(FirefoxCacheReaderTest, RandomlyDamagedCachesAreReadAndCopiedSafely) {
    {
        CacheWriter writer(cache);
        for (int i = 0; i < 12; ++i) {
            auto entry = Http("http://a.org/" + std::to_string(i),
                              Bytes(static_cast<std::size_t>(100 + i * i * 300), 'a'));
            entry.metaPlace = i % 5 == 4 ? Place::Separate : Place::Auto;
            writer.add(entry);
        }
    }
    const char* names[] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_", "_CACHE_003_"};
    std::string original[4];
    for (int f = 0; f < 4; ++f) {
        original[f] = readFile(cache / names[f]);
    }
    std::mt19937 random(20120101);
    for (int round = 0; round < 150; ++round) {
        const int f = static_cast<int>(random() % 4);
        std::string damaged = original[f];
        if (round % 7 == 0) {
            damaged.resize(random() % (damaged.size() + 1));  // cut short
        } else {
            for (int flips = 1 + static_cast<int>(random() % 24); flips > 0; --flips) {
                // Mostly the map's records and the first blocks.
                const std::size_t limit = std::min<std::size_t>(damaged.size(), 4096 + 2048);
                damaged[random() % limit] = static_cast<char>(random());
            }
        }
        writeFile(cache / names[f], damaged);
        FirefoxCacheReader damagedReader;
        damagedReader.cacheFolder = pathToUtf8(cache);
        ASSERT_FALSE(openCache(damagedReader));
        const Reading damagedReading = readCache(damagedReader);
        EXPECT_LE(damagedReading.entries.size(), 12u);  // one per map record at most
        for (std::size_t i = 0; i < damagedReading.entries.size(); ++i) {
            const fs::path target = out / ("c" + std::to_string(i));
            if (copyEntry(damagedReader, *damagedReading.entries[i], target)) {
                EXPECT_LE(fs::file_size(target), 300000u);
            }
        }
        fs::remove_all(out);
        fs::create_directories(out);
        writeFile(cache / names[f], original[f]);
    }
}

}  // namespace

}  // namespace harvix
