// End-to-end combs of a real WinINet index: the tests lay the cached files
// out beside a copy of the index, as Internet Explorer (or Wine) keeps them,
// and comb them with a filter set into temporary folders.
#include <gtest/gtest.h>

#include <map>

#include "base/ErrorReport.h"
#include "engine/CombOnce.h"
#include "filter/FilterTestSupport.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "support/TestData.h"

namespace harvix {

namespace {

using Names = std::vector<std::string>;

const fs::path kContentIndex = testData("msiecf/Content.IE5/index.dat");

// The size the index gives each URL, learnt when the files are laid out.
std::map<std::string, uint64_t>& IndexSizes() {
    static std::map<std::string, uint64_t> sizes;
    return sizes;
}

// The data laid out for an entry: its URL, so that every file differs,
// padded or cut to the size its record gives (a copy takes exactly that).
std::string DataFor(const std::string& url) {
    std::string data = "cached bytes of " + url + "\n";
    const auto size = IndexSizes().find(url);
    if (size != IndexSizes().end()) {
        data.resize(static_cast<std::size_t>(size->second), '.');
    }
    return data;
}

class UrlCacheComb : public FilterTest {
protected:
    void SetUp() override { ASSERT_TEST_DATA(kContentIndex, kContentIndexBytes); }

    // Copies the index into `folder` (with Wine's signature when `wine`),
    // patched by `patch`, and writes every cached file its records name.
    fs::path LayOut(const std::string& folder, bool wine = false,
                    const std::function<void(std::string&)>& patch = {}) {
        const fs::path container = Dir(folder);
        fs::create_directories(container);
        std::string index = readFile(kContentIndex);
        if (wine) {
            index.replace(0, 28, std::string("WINE URLCache Ver 0.2012001\0", 28));
        }
        if (patch) {
            patch(index);
        }
        writeFile(container / "index.dat", index);
        auto reader = std::make_unique<UrlCacheReader>(std::make_unique<MsiecfUrlCache>(container));
        EXPECT_FALSE(openCache(*reader));
        Reading reading = readCache(*reader);
        for (const auto& entry : reading.entries) {
            IndexSizes()[entry->url] = entry->size;
            fs::create_directories(fs::path(entry->dataFile).parent_path());
            writeFile(entry->dataFile, DataFor(entry->url));
        }
        return container;
    }

    // One comb run as the coordinator does it; false when the cache does
    // not open or a folder stopped the pass.
    bool CombCache(UrlCacheReader& reader) {
        reports_ = Reports{};
        const CombRun run =
            combOnce(reader, FilterSnapshot::take(filter_, fake_.home, std::time(nullptr)),
                     options_, reports_, fake_);
        result_ = run.result;
        return !run.openError && result_.foldersReady;
    }

    void AddTheItems() {
        addItem("icons", 5, "icon");
        FilterItem& feeds = addItem("feeds", 9, "feed");
        feeds.url = "microsoft.com";
        feeds.parseUrl(filter_);
        addItem("big", 0, "big").minSize = 1000000;
    }
};

TEST_F(UrlCacheComb, CombsTheLaidOutCacheIntoTheItemsFolders) {
    const fs::path container = LayOut("Content.IE5");
    // The browser removed one cached file since it wrote the index.
    const fs::path removed = container / "5F9C7HL9" / "favicon[1].ico";
    ASSERT_TRUE(fs::exists(removed));
    fs::remove(removed);
    AddTheItems();
    options_.oneCopy = true;

    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(container));
    ASSERT_TRUE(CombCache(reader));

    // Five icons in the index, one of them gone: four copies, numbered in
    // the index's order (a failed copy takes no number).
    EXPECT_EQ(fileNames(Dir("icons")), (Names{"icon0.ico", "icon1.ico", "icon2.ico", "icon3.ico"}));
    EXPECT_EQ(result_.failed, 1u);
    EXPECT_EQ(readFile(Dir("icons") / "icon0.ico"),
              DataFor("http://static-hp-neu.s-msn.com/sc/54/4f1880.ico"));
    EXPECT_EQ(readFile(Dir("icons") / "icon1.ico"),
              DataFor("https://ieonline.microsoft.com/favicon.ico"));
    EXPECT_EQ(readFile(Dir("icons") / "icon2.ico"),
              DataFor("http://res1.windows.microsoft.com/resources/4.2/wol/shared/images/"
                      "favicon.ico"));
    // XML from microsoft.com: the two feeds, not the MSN one.
    EXPECT_EQ(fileNames(Dir("feeds")), (Names{"feed0.xml", "feed1.xml"}));
    EXPECT_EQ(readFile(Dir("feeds") / "feed0.xml"),
              DataFor("http://www.microsoft.com/atwork/community/rss.xml"));
    // Nine records of a megabyte or more by the index's sizes (the two
    // installers without header data are no entries).
    EXPECT_EQ(fileNames(Dir("big")).size(), 9u);
    EXPECT_EQ(readFile(Dir("big") / "big0.all"),
              DataFor("http://download.microsoft.com/download/D/7/9/"
                      "D79A0158-00A8-417D-9C12-F1082A86D5A8/Windows6.1-KB2834140-v2-x64.msu"));
    // The cache is only read.
    EXPECT_EQ(readFile(container / "index.dat"), readFile(kContentIndex));
}

TEST_F(UrlCacheComb, AWineCacheCombsAlikeAndASinceTimeKeepsTheLaterEntries) {
    const fs::path container = LayOut("wine/Content.IE5", true);
    AddTheItems();
    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(container / "index.dat"));
    ASSERT_TRUE(CombCache(reader));
    EXPECT_EQ(fileNames(Dir("icons")).size(), 5u);
    EXPECT_EQ(fileNames(Dir("feeds")).size(), 2u);
    EXPECT_EQ(fileNames(Dir("big")).size(), 9u);

    // Only what was synchronised at or after 2015-08-25 11:06:22 UTC, when
    // the last icon was: the four earlier icons are passed over.
    for (const char* folder : {"icons", "feeds", "big"}) {
        fs::remove_all(Dir(folder));
    }
    options_.sinceTime = 1440500782;
    UrlCacheReader later(std::make_unique<MsiecfUrlCache>(container / "index.dat"));
    ASSERT_TRUE(CombCache(later));
    EXPECT_EQ(fileNames(Dir("icons")), (Names{"icon0.ico"}));
    EXPECT_EQ(readFile(Dir("icons") / "icon0.ico"),
              DataFor("http://www.microsoft.com/favicon.ico?v2"));
    EXPECT_EQ(fileNames(Dir("feeds")).size(), 2u);
    EXPECT_EQ(fileNames(Dir("big")).size(), 9u);
}

TEST_F(UrlCacheComb, ARecordWithoutItsSizeTakesTheSizeOfTheCachedFile) {
    // The first record (the MSN icon, 4286 bytes) with its size cleared.
    const fs::path container = LayOut("Content.IE5", false, [](std::string& index) {
        ASSERT_EQ(index.compare(0x6000, 4, "URL "), 0);
        index.replace(0x6020, 8, std::string(8, '\0'));
    });
    const std::string data(70000, 'x');
    const fs::path file = container / "ENG3X4ZR" / "4f1880[1].ico";
    writeFile(file, data);

    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(container));
    ASSERT_FALSE(openCache(reader));
    Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 19u);
    EXPECT_EQ(reading.entries[0]->dataFile, file.string());
    EXPECT_EQ(reading.entries[0]->size, 70000u);
    EXPECT_EQ(reading.entries[1]->size, 1150u);  // the others keep the index's sizes

    // Without the file there is nothing to measure: size 0.
    fs::remove(file);
    reading = readCache(reader);
    EXPECT_EQ(reading.entries[0]->size, 0u);
}

TEST_F(UrlCacheComb, NoIndexMeansTheRunCombsNothingAndShowsNothing) {
    AddTheItems();
    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(Dir("nowhere")));
    EXPECT_FALSE(CombCache(reader));
    EXPECT_FALSE(fs::exists(Dir("icons")));
}

}  // namespace

}  // namespace harvix
