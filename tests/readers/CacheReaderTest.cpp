#include <gtest/gtest.h>

#include "engine/ErrorReport.h"
#include "readers/CacheReader.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// A reader over a list of (url, data) pairs; it can be told to fail.
class ListReader : public CacheReader {
public:
    std::vector<std::pair<std::string, std::string>> records;
    bool failOpen = false;
    int closeCalls = 0;
    int reads = 0;

    void open() override {
        if (failOpen) {
            throw ErrorReport(ErrorReport::IECache, ErrorReport::FileRead, "/nowhere");
        }
    }
    void close() override { ++closeCalls; }
    void readEntries() override {
        ++reads;
        for (const auto& [url, data] : records) {
            auto entry = std::make_unique<CacheEntry>();
            entry->url = url;
            entry->dataFile = data;
            entry->size = static_cast<int32_t>(data.size());
            entries.push_back(std::move(entry));
        }
    }
    bool copyEntryData(CacheEntry& entry, const fs::path& target, bool failIfExists) override {
        if (failIfExists && fs::exists(target)) {
            return false;
        }
        if (entry.dataFile == "fail") {
            throw ErrorReport(ErrorReport::IECache, ErrorReport::FileCopy, entry.dataFile,
                              target.string());
        }
        writeFile(target, entry.dataFile);
        return true;
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
    EXPECT_TRUE(reader.entries.empty());
    reader.failOpen = false;
    EXPECT_TRUE(reader.tryOpen());
    EXPECT_EQ(reader.closeCalls, 1);
}

TEST(CacheReader, CopyEntryReplacesAnExistingFileAndSwallowsErrors) {
    TempDir dir;
    ListReader reader;
    reader.records = {{"a", "new bytes"}, {"b", "fail"}};
    reader.loadEntries();
    writeFile(dir / "t.bin", "old");
    EXPECT_TRUE(reader.copyEntry(dir / "t.bin", *reader.entries[0]));
    EXPECT_EQ(readFile(dir / "t.bin"), "new bytes");
    EXPECT_FALSE(reader.copyEntry(dir / "u.bin", *reader.entries[1]));
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
