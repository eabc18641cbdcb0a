#include <gtest/gtest.h>

#include "engine/Error.h"
#include "readers/CacheBrowser.h"
#include "support/TestSupport.h"

namespace {

// A reader over a list of (url, data) pairs; it can be told to fail.
class ListReader : public CCacheBrowser {
public:
    std::vector<std::pair<std::string, std::string>> records;
    bool failOpen = false;
    int closeCalls = 0;
    int reads = 0;

    void Open() override {
        if (failOpen) {
            throw CError(CError::IECache, CError::FileRead, "/nowhere");
        }
    }
    void Close() override { ++closeCalls; }
    void ReadEntries() override {
        ++reads;
        for (const auto& [url, data] : records) {
            auto entry = std::make_unique<CCacheElement>();
            entry->url = url;
            entry->dataFile = data;
            entry->size = static_cast<int32_t>(data.size());
            entries.push_back(std::move(entry));
        }
    }
    bool CopyEntryData(CCacheElement& entry, const fs::path& target, bool failIfExists) override {
        if (failIfExists && fs::exists(target)) {
            return false;
        }
        if (entry.dataFile == "fail") {
            throw CError(CError::IECache, CError::FileCopy, entry.dataFile, target.string());
        }
        WriteFile(target, entry.dataFile);
        return true;
    }
};

TEST(CacheBrowser, LoadingTwiceKeepsOnlyTheSecondReadingNumberedFromZero) {
    ListReader reader;
    reader.records = {{"a", "1"}, {"b", "2"}};
    reader.LoadEntries();
    reader.records = {{"c", "3"}, {"d", "4"}, {"e", "5"}};
    reader.LoadEntries();
    ASSERT_EQ(reader.entries.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reader.entries[i]->index, i);
    }
    EXPECT_EQ(reader.entries[0]->url, "c");
}

TEST(CacheBrowser, AFailedOpenClosesAndReportsFalse) {
    ListReader reader;
    reader.failOpen = true;
    EXPECT_FALSE(reader.TryOpen());
    EXPECT_EQ(reader.closeCalls, 1);
    EXPECT_TRUE(reader.entries.empty());
    reader.failOpen = false;
    EXPECT_TRUE(reader.TryOpen());
    EXPECT_EQ(reader.closeCalls, 1);
}

TEST(CacheBrowser, CopyEntryReplacesAnExistingFileAndSwallowsErrors) {
    TempDir dir;
    ListReader reader;
    reader.records = {{"a", "new bytes"}, {"b", "fail"}};
    reader.LoadEntries();
    WriteFile(dir / "t.bin", "old");
    EXPECT_TRUE(reader.CopyEntry(dir / "t.bin", *reader.entries[0]));
    EXPECT_EQ(ReadFile(dir / "t.bin"), "new bytes");
    EXPECT_FALSE(reader.CopyEntry(dir / "u.bin", *reader.entries[1]));
    EXPECT_FALSE(fs::exists(dir / "u.bin"));
}

TEST(CacheBrowser, AnEmptyCacheGivesNoEntries) {
    ListReader reader;
    reader.LoadEntries();
    EXPECT_TRUE(reader.entries.empty());
    EXPECT_EQ(reader.reads, 1);
}

}  // namespace
