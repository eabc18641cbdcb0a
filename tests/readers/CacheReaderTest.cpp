#include <gtest/gtest.h>

#include "Cache2Writer.h"
#include "CacheWriter.h"
#include "ChromeCacheWriter.h"
#include "base/ErrorReport.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/CacheReader.h"
#include "readers/FirefoxCacheReader.h"
#include "readers/cache2/FirefoxCache2Reader.h"
#include "readers/chromium/ChromiumCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// A reader over a list of (url, data) pairs, each data in a file of its
// own below the reader's root; it can be told to fail.
class ListReader : public CacheReader {
public:
    std::vector<std::pair<std::string, std::string>> records;
    bool failOpen = false;
    int closeCalls = 0;
    int reads = 0;
    TempDir cache;

    void open() override {
        if (failOpen) {
            throw ErrorReport(ErrorReport::IECache, ErrorReport::CacheOpen, "/nowhere");
        }
        root_ = resolveFolder(cache.path());
    }
    void close() override { ++closeCalls; }
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts&) override {
        ++reads;
        for (const auto& [url, data] : records) {
            auto entry = std::make_unique<CacheEntry>();
            entry->url = url;
            entry->dataFile = url;
            entry->size = data.size();
            writeFile(cache / url, data);
            out.push_back(std::move(entry));
        }
    }
    BodySource bodySource(const CacheEntry& entry) const override {
        if (entry.url == "fail") {
            throw ErrorReport(ErrorReport::IECache, ErrorReport::FileRead, entry.dataFile);
        }
        return BodySource{root_ / entry.dataFile,    0,       entry.size,
                          ContentEncoding::Identity, nullptr, root_};
    }
};

TEST(CacheReader, AReadingIsNumberedFromZeroInCacheOrder) {
    ListReader reader;
    reader.records = {{"c", "3"}, {"d", "4"}, {"e", "5"}};
    const Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reading.entries[i]->index, i);
    }
    EXPECT_EQ(reading.entries[0]->url, "c");
}

TEST(CacheReader, AFailedOpenClosesAndSaysWhy) {
    ListReader reader;
    reader.failOpen = true;
    const std::optional<ErrorReport> failed = openCache(reader);
    EXPECT_EQ(reader.closeCalls, 1);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->path(), "/nowhere");
    reader.failOpen = false;
    EXPECT_FALSE(openCache(reader));
    EXPECT_EQ(reader.closeCalls, 1);
}

TEST(CacheReader, ACopyNeverReplacesAFileAndAFailedOneLeavesNone) {
    TempDir dir;
    ListReader reader;
    reader.records = {{"a", "new bytes"}, {"fail", "x"}};
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    writeFile(dir / "t.bin", "old");
    EXPECT_FALSE(copyEntry(reader, *reading.entries[0], dir / "t.bin"));
    EXPECT_EQ(readFile(dir / "t.bin"), "old");
    EXPECT_TRUE(copyEntry(reader, *reading.entries[0], dir / "s.bin"));
    EXPECT_EQ(readFile(dir / "s.bin"), "new bytes");
    EXPECT_FALSE(copyEntry(reader, *reading.entries[1], dir / "u.bin"));
    EXPECT_FALSE(fs::exists(dir / "u.bin"));
}

TEST(CacheReader, AnEmptyCacheGivesNoEntries) {
    ListReader reader;
    Reading reading = readCache(reader);
    EXPECT_TRUE(reading.entries.empty());
    EXPECT_EQ(reader.reads, 1);
}

// Every reader asks its watch before each record: told to stop it returns
// at once with what it read and no error; without a watch (a comb, the
// CLI) the same cache reads whole.
TEST(CacheReader, EveryFormatStopsWhenItsWatchSaysSoAndKeepsWhatItRead) {
    constexpr std::size_t kRecords = 30;
    constexpr std::size_t kStopAt = 10;
    TempDir dir;
    std::vector<std::pair<std::string, std::unique_ptr<CacheReader>>> readers;
    {
        mozcache::CacheWriter writer(dir / "Cache");
        for (std::size_t i = 0; i < kRecords; ++i) {
            mozcache::Entry entry;
            entry.key = "HTTP:http://old.example/" + std::to_string(i) + ".css";
            entry.data = std::string(40 + i, 'x');
            entry.values =
                mozcache::responseValues(mozcache::ResponseHead({"Content-Type: text/css"}));
            writer.add(entry);
        }
    }
    readers.emplace_back("old Firefox",
                         std::make_unique<FirefoxCacheReader>((dir / "Cache").string()));
    for (std::size_t i = 0; i < kRecords; ++i) {
        mozcache::Cache2Entry entry;
        entry.key = ":http://new.example/" + std::to_string(i) + ".css";
        entry.body = std::string(40 + i, 'y');
        entry.elements =
            mozcache::cache2HttpElements("HTTP/1.1 200 OK\r\nContent-Type: text/css\r\n");
        mozcache::writeCache2Entry(dir / "cache2", entry);
    }
    readers.emplace_back("cache2", std::make_unique<FirefoxCache2Reader>(dir / "cache2"));
    const auto chromium = chromecache::syntheticEntries(kRecords, 64);
    chromecache::writeSimpleCache(dir / "simple" / "Default" / "Cache" / "Cache_Data", chromium);
    readers.emplace_back("Chromium simple", std::make_unique<ChromiumCacheReader>(
                                                "chromium", pathToUtf8(dir / "simple")));
    chromecache::writeBlockFileCache(dir / "blocks" / "Default" / "Cache", chromium);
    readers.emplace_back("Chromium block file", std::make_unique<ChromiumCacheReader>(
                                                    "chromium", pathToUtf8(dir / "blocks")));

    for (auto& [name, reader] : readers) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(openCache(*reader));
        std::size_t asked = 0;
        reader->setReadingWatch([&](const std::vector<std::unique_ptr<CacheEntry>>& read) {
            ++asked;
            return read.size() < kStopAt;
        });
        std::vector<std::unique_ptr<CacheEntry>> read;
        SkipCounts skipped;
        EXPECT_NO_THROW(reader->readEntries(read, skipped));
        EXPECT_EQ(read.size(), kStopAt);
        EXPECT_GE(asked, kStopAt + 1);
        EXPECT_TRUE(skipped.byReason.empty());

        reader->setReadingWatch({});
        Reading reading = readCache(*reader);
        EXPECT_EQ(reading.entries.size(), kRecords);
    }
}

}  // namespace

}  // namespace harvix
