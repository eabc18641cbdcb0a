#include <gtest/gtest.h>

#include "engine/ErrorReport.h"
#include "platform/FileHandle.h"
#include "readers/CacheReader.h"
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
        return BodySource{root_ / entry.dataFile, 0, entry.size, ContentEncoding::Identity, nullptr};
    }
};

TEST(CacheReader, LoadingTwiceKeepsOnlyTheSecondReadingNumberedFromZero) {
    ListReader reader;
    reader.records = {{"a", "1"}, {"b", "2"}};
    reader.loadEntries();
    reader.records = {{"c", "3"}, {"d", "4"}, {"e", "5"}};
    reader.loadEntries();
    ASSERT_EQ(reader.entries.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reader.entries[i]->index, i);
    }
    EXPECT_EQ(reader.entries[0]->url, "c");
}

TEST(CacheReader, AFailedOpenClosesAndReportsFalse) {
    ListReader reader;
    reader.failOpen = true;
    EXPECT_FALSE(reader.tryOpen());
    EXPECT_EQ(reader.closeCalls, 1);
    ASSERT_TRUE(reader.openError.has_value());
    EXPECT_EQ(reader.openError->path(), "/nowhere");
    EXPECT_TRUE(reader.entries.empty());
    reader.failOpen = false;
    EXPECT_TRUE(reader.tryOpen());
    EXPECT_EQ(reader.closeCalls, 1);
}

TEST(CacheReader, ACopyNeverReplacesAFileAndAFailedOneLeavesNone) {
    TempDir dir;
    ListReader reader;
    reader.records = {{"a", "new bytes"}, {"fail", "x"}};
    ASSERT_TRUE(reader.tryOpen());
    reader.loadEntries();
    writeFile(dir / "t.bin", "old");
    EXPECT_FALSE(copyEntry(reader, *reader.entries[0], dir / "t.bin"));
    EXPECT_EQ(readFile(dir / "t.bin"), "old");
    EXPECT_TRUE(copyEntry(reader, *reader.entries[0], dir / "s.bin"));
    EXPECT_EQ(readFile(dir / "s.bin"), "new bytes");
    EXPECT_FALSE(copyEntry(reader, *reader.entries[1], dir / "u.bin"));
    EXPECT_FALSE(fs::exists(dir / "u.bin"));
}

TEST(CacheReader, AnEmptyCacheGivesNoEntries) {
    ListReader reader;
    reader.loadEntries();
    EXPECT_TRUE(reader.entries.empty());
    EXPECT_EQ(reader.reads, 1);
}

}  // namespace

}  // namespace harvix
