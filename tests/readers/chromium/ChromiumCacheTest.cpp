// Reading whole Chromium cache folders: which entries a comb may use, which
// are left out and why, and where the caches of a browser are found.
#include <gtest/gtest.h>

#include <sstream>

#include "ChromeDescription.h"
#include "readers/chromium/ChromiumCache.h"
#include "support/TestSupport.h"

namespace harvix::chromium {
namespace {

// The odd entries both formats must sort out the same way.
const char* const kOddEntries = R"(
[entry]
url = http://a.org/pic.png
type = image/png
body = png 4 3
time = 1700000000
[entry]
url = https://a.org/app.js
type = application/javascript
header = Content-Encoding: gzip
body = text \x1f\x8b\x08 not really gzip
[entry]
url = http://a.org/ok203
status = 203
body = text fine
[entry]
url = http://a.org/missing
status = 404
body = text gone
[entry]
url = http://a.org/part
status = 206
body = text partial
[entry]
url = http://a.org/empty
body = none
[entry]
url = http://a.org/short
body = text 12345
content-length = 99
[entry]
url = http://a.org/cut
body = text 12345
truncated = yes
[entry]
url = http://a.org/sparse
body = text 12345
sparse = yes
[entry]
key = 1/0/_dk_chrome://x chrome://x chrome-extension://abc/y.js
body = text x
[entry]
url = http://a.org/odd
header = Content-Encoding: UTF-8
body = text x
[entry]
url = http://a.org/nolength
content-length = none
body = text no length given
)";

std::map<std::string, uint64_t> readOdd(const TempDir& dir, bool blockFile,
                                        std::vector<CacheRecord>& records) {
    std::istringstream description(std::string(blockFile ? "[cache]\nformat = blockfile\n" : "") +
                                   kOddEntries);
    const fs::path folder = dir.path() / "Default" / "Cache" / "Cache_Data";
    chromecache::writeDescribedCache(description, dir.path(), folder);
    std::map<std::string, uint64_t> skipped;
    for (const CacheFolder& cache : findCacheFolders(dir.path())) {
        readCacheFolder(cache, records, [&](const std::string& reason) { ++skipped[reason]; });
    }
    return skipped;
}

TEST(ChromiumCacheFolder, OddEntriesAreCountedByReasonInBothFormats) {
    for (bool blockFile : {false, true}) {
        SCOPED_TRACE(blockFile ? "block file" : "simple");
        TempDir dir;
        std::vector<CacheRecord> records;
        const auto skipped = readOdd(dir, blockFile, records);
        std::map<std::string, const CacheRecord*> byUrl;
        for (const CacheRecord& record : records)
            byUrl[record.url] = &record;
        ASSERT_EQ(byUrl.size(), 5u);
        const CacheRecord& pic = *byUrl.at("http://a.org/pic.png");
        EXPECT_EQ(pic.contentTypeText, "image/png");
        EXPECT_EQ(pic.time, 1700000000);
        EXPECT_EQ(pic.encoding, ContentEncoding::Identity);
        EXPECT_TRUE(fs::exists(pic.bodyFile));
        if (!blockFile) {
            EXPECT_EQ(pic.dataFile.substr(0, 25), "Default/Cache/Cache_Data/");
            EXPECT_EQ(pic.dataFile.size(), 25u + 18u);
            EXPECT_EQ(pic.bodyOffset, 24 + chromecache::splitCacheKey(pic.url).size());
        } else {
            EXPECT_EQ(pic.dataFile, "Default/Cache/Cache_Data/data_1");
        }
        EXPECT_EQ(byUrl.at("https://a.org/app.js")->encoding, ContentEncoding::Gzip);
        EXPECT_TRUE(byUrl.count("http://a.org/ok203"));
        EXPECT_TRUE(byUrl.count("http://a.org/nolength"));
        // A coding no browser knows: the bytes pass through as stored.
        EXPECT_EQ(byUrl.at("http://a.org/odd")->encoding, ContentEncoding::Identity);

        const std::map<std::string, uint64_t> expected = {
            {"status other than 200 or 203", 1},
            {"partial response (206)", 1},
            {"empty body", 1},
            {"body shorter than its Content-Length", 1},
            {"interrupted download", 1},
            {"sparse (range) entry", 1},
            {"not an http or https entry", 1}};
        EXPECT_EQ(skipped, expected);
    }
}

TEST(ChromiumCacheFolder, DamagedEntriesAreSkippedTheRestRead) {
    TempDir dir;
    std::istringstream description(R"(
[entry]
url = http://a.org/good
body = text good
[entry]
url = http://a.org/1
body = text x
damage = bad-magic
[entry]
url = http://a.org/2
body = text x
damage = cut 30
[entry]
url = http://a.org/3
body = text x
damage = bad-pickle
)");
    chromecache::writeDescribedCache(description, dir.path(), dir.path());
    // A link to a file outside and a folder named like an entry are refused.
    writeFile(dir.path() / "outside", "secret");
    fs::create_symlink(dir.path() / "outside", dir.path() / "00000000000000aa_0");
    fs::create_directory(dir.path() / "00000000000000bb_0");
    std::vector<CacheRecord> records;
    std::map<std::string, uint64_t> skipped;
    const auto folders = findCacheFolders(dir.path());
    ASSERT_EQ(folders.size(), 1u);
    readCacheFolder(folders[0], records, [&](const std::string& reason) { ++skipped[reason]; });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].url, "http://a.org/good");
    EXPECT_EQ(skipped["unreadable entry file"], 2u);
    EXPECT_EQ(skipped["damaged response info"], 1u);
    EXPECT_EQ(skipped["damaged entry file (bad magic number)"], 1u);
    EXPECT_EQ(skipped["damaged entry file (bad end record)"], 1u);
}

TEST(ChromiumDiscovery, RootsProfilesAndCacheFolders) {
    TempDir dir;
    const fs::path root = dir.path() / "google-chrome";
    const auto makeCache = [](const fs::path& folder) {
        std::istringstream description("[entry]\nurl = http://a.org/x\nbody = text x\n");
        chromecache::writeDescribedCache(description, folder, folder);
    };
    makeCache(root / "Default" / "Cache" / "Cache_Data");
    makeCache(root / "Profile 2" / "Cache" / "Cache_Data");
    makeCache(root / "Guest Profile" / "Cache");  // an older profile
    makeCache(root / "Default" / "Code Cache" / "js");
    makeCache(root / "Default" / "GPUCache");
    fs::create_directories(root / "Profile 3" / "Cache");  // empty: no cache
    fs::create_directories(root / "System Profile");

    const auto caches = findCacheFolders(root);
    ASSERT_EQ(caches.size(), 3u);
    EXPECT_EQ(caches[0].folder, root / "Default" / "Cache" / "Cache_Data");
    EXPECT_EQ(caches[1].folder, root / "Guest Profile" / "Cache");
    EXPECT_EQ(caches[2].folder, root / "Profile 2" / "Cache" / "Cache_Data");
    for (const auto& cache : caches)
        EXPECT_EQ(cache.browserRoot, root);

    // A profile folder, a Cache_Data folder (with or without a final
    // separator) and an older profile's Cache each name one cache of the root.
    // A root reached through a link is read as the root itself.
    fs::create_directory_symlink(root, dir.path() / "linked-root");
    EXPECT_EQ(findCacheFolders(dir.path() / "linked-root").size(), 3u);
    for (const fs::path& given :
         {root / "Profile 2", root / "Profile 2" / "Cache",
          root / "Profile 2" / "Cache" / "Cache_Data",
          fs::path((root / "Profile 2" / "Cache" / "Cache_Data").string() + "/"),
          root / "Guest Profile" / "Cache"}) {
        const auto one = findCacheFolders(given);
        ASSERT_EQ(one.size(), 1u) << given;
        EXPECT_EQ(one[0].browserRoot, root) << given;
    }
    EXPECT_TRUE(findCacheFolders(dir.path() / "none").empty());
    EXPECT_TRUE(findCacheFolders(root / "Profile 3").empty());
}

}  // namespace
}  // namespace harvix::chromium
