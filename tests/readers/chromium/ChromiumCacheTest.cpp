// Reading whole Chromium cache folders: which entries a comb may use, which
// are left out and why, and where the caches of a browser are found.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

#include "ChromeDescription.h"
#include "filter/FilterSet.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/chromium/ChromiumCacheReader.h"
#include "support/TestSupport.h"

namespace harvix::chromium {
namespace {

void writeCache(const fs::path& folder, const std::string& description) {
    std::istringstream in(description);
    chromecache::writeDescribedCache(in, folder, folder);
}

// What a comb into `target` of everything `reader` listed did, and the
// report that stopped it (if one did).
struct CombRecord : CombObserver {
    std::vector<ErrorReport> errors;
    std::vector<std::string> failures;
    void error(const ErrorReport& report) override { errors.push_back(report); }
    void copyFailed(const CacheEntry&, const std::string& reason) override {
        failures.push_back(reason);
    }
};

CombResult combInto(const CacheReader& reader, const Reading& reading, const fs::path& target,
                    CombRecord& record) {
    FilterItem item;
    item.directoryTemplate = pathToUtf8(target);
    item.stem = "file";
    CombOptions options;
    options.skipDuplicates = false;
    FakePlatform platform;
    return runComb(reader, reading,
                   FilterSnapshot::take({item}, ';', platform.homeFolder(), platform.currentTime()),
                   options, record, platform);
}

// Opens and reads `reader`; an open that fails fails the test.
Reading openAndRead(CacheReader& reader) {
    const std::optional<ErrorReport> failed = openCache(reader);
    EXPECT_FALSE(failed) << failed->what();
    return failed ? Reading{} : readCache(reader);
}

// The odd entries both formats must sort out the same way.
const char* const kOddEntries = R"(
[entry]
url = http://a.org/pic.png
type = image/png
body = png 4 3
time = 1700000000
lastused = 1700000300
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
        EXPECT_EQ(pic.status, 200);
        // The last use: the index's (simple cache), the rankings node's (block files).
        EXPECT_EQ(pic.lastUsed, 1700000300);
        EXPECT_EQ(pic.encoding, ContentEncoding::Identity);
        // The head is not kept, only where it lies: read again, it is the head stored.
        const fs::path folder = dir.path() / "Default" / "Cache" / "Cache_Data";
        EXPECT_NE(readResponseHead(folder, folder, pic.dataFile, pic.size, pic.place)
                      .find("Content-Type: image/png"),
                  std::string::npos);
        if (!blockFile) {
            EXPECT_EQ(pic.dataFile.substr(0, 25), "Default/Cache/Cache_Data/");
            EXPECT_EQ(pic.dataFile.size(), 25u + 18u);
            EXPECT_EQ(pic.place.bodyOffset, 24 + chromecache::splitCacheKey(pic.url).size());
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
        if (!blockFile) {
            // A damaged index costs the last use only.
            const fs::path index = folder / "index-dir" / "the-real-index";
            std::string bytes = readFile(index);
            bytes[bytes.size() / 2] ^= 0x40;
            writeFile(index, bytes);
            std::vector<CacheRecord> again;
            for (const CacheFolder& cache : findCacheFolders(dir.path())) {
                readCacheFolder(cache, again, [](const std::string&) {});
            }
            EXPECT_EQ(again.size(), 5u);
            for (const CacheRecord& record : again) {
                EXPECT_EQ(record.lastUsed, 0) << record.url;
            }
        }
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

    // A block-file index that is damaged, and entries no chain leads to,
    // are told as left out.
    TempDir blocks;
    writeCache(blocks / "bad", R"([cache]
format = blockfile
index = bad-magic
[entry]
url = http://a.org/x
body = text x
)");
    writeCache(blocks / "chain", R"([cache]
format = blockfile
table = 1
[entry]
url = http://a.org/lost
body = text x
[entry]
url = http://a.org/loop
body = text x
damage = loop-chain
[entry]
url = http://a.org/first
body = text x
)");
    records.clear();
    skipped.clear();
    for (const char* name : {"bad", "chain"}) {
        readCacheFolder({blocks / name, blocks / name}, records,
                        [&](const std::string& reason) { ++skipped[reason]; });
    }
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(skipped, (std::map<std::string, uint64_t>{
                           {"unreadable cache folder (index file with a wrong magic number)", 1},
                           {"not reachable from the index (damaged hash table)", 1}}));
}

// ---- Real setups: what caches on users' machines look like ----

TEST(ChromiumRealSetups, KeysWithAndWithoutTheSplitCacheInBothFormats) {
    // The split cache switched off (Chromium-based apps, older profiles),
    // old POST keys and the oldest bare keys all name http entries.
    const std::string entries = R"(
[entry]
key = 1/0/http://a.org/plain.png
body = text a
[entry]
key = 0/0/https://a.org/no-credentials.css
body = text b
[entry]
key = 1/0/_dk_http://a.org http://a.org http://a.org/split.js
body = text c
[entry]
key = 17/http://a.org/old-post
body = text d
[entry]
key = https://a.org/bare
body = text e
[entry]
key = 1/0/chrome-extension://abc/y.js
body = text f
[entry]
key = 1/0/12/http://a.org/three-numbers
body = text g
)";
    for (bool blockFile : {false, true}) {
        SCOPED_TRACE(blockFile ? "block file" : "simple");
        TempDir dir;
        writeCache(dir.path(), (blockFile ? "[cache]\nformat = blockfile\n" : "") + entries);
        std::vector<CacheRecord> records;
        std::map<std::string, uint64_t> skipped;
        readCacheFolder({dir.path(), dir.path()}, records,
                        [&](const std::string& reason) { ++skipped[reason]; });
        std::set<std::string> urls;
        for (const CacheRecord& record : records) {
            urls.insert(record.url);
        }
        EXPECT_EQ(urls,
                  (std::set<std::string>{
                      "http://a.org/plain.png", "https://a.org/no-credentials.css",
                      "http://a.org/split.js", "http://a.org/old-post", "https://a.org/bare"}));
        EXPECT_EQ(skipped, (std::map<std::string, uint64_t>{{"not an http or https entry", 2}}));
    }
}

TEST(ChromiumRealSetups, EachCacheFolderIsItsOwnRoot) {
    // A Debian and a Flatpak Chromium in one home.
    TempDir home;
    const fs::path debian = home / ".cache/chromium/Default/Cache/Cache_Data";
    const fs::path flatpak =
        home / ".var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data";
    writeCache(debian, "[entry]\nurl = http://a.org/debian.png\nbody = text debian\n");
    writeCache(flatpak, "[entry]\nurl = http://a.org/flatpak.png\nbody = text flatpak\n");
    ChromiumCacheReader both(
        "chromium", "",
        {home / ".cache/chromium", home / ".var/app/org.chromium.Chromium/cache/chromium"});
    const Reading fromBoth = openAndRead(both);
    ASSERT_EQ(fromBoth.entries.size(), 2u);
    EXPECT_EQ(both.cacheFolders(),
              (std::vector<fs::path>{resolveFolder(debian), resolveFolder(flatpak)}));
    EXPECT_FALSE(isAtOrBelow(home.path(), both.root()));
    EXPECT_EQ(both.bodySource(*fromBoth.entries[1]).root, resolveFolder(flatpak));

    // A cache copied elsewhere, named with --cache.
    TempDir elsewhere;
    const fs::path copied = elsewhere / "Cache_Data";
    fs::copy(debian, copied, fs::copy_options::recursive);
    ChromiumCacheReader one("chromium", pathToUtf8(copied));
    const Reading fromOne = openAndRead(one);
    EXPECT_EQ(one.root(), resolveFolder(copied));

    for (auto [reader, reading, beside, inside] :
         {std::tuple{&both, &fromBoth, home / "kept", flatpak / "x"},
          std::tuple{&both, &fromBoth, home / "kept2", debian},
          std::tuple{&one, &fromOne, elsewhere / "kept", copied / "sub"}}) {
        SCOPED_TRACE(beside);
        CombRecord record;
        const CombResult kept = combInto(*reader, *reading, beside, record);
        EXPECT_TRUE(record.errors.empty());
        EXPECT_EQ(kept.kept, reading->entries.size());
        const CombResult refused = combInto(*reader, *reading, inside, record);
        EXPECT_FALSE(refused.foldersReady);
        ASSERT_EQ(record.errors.size(), 1u);
        EXPECT_EQ(record.errors[0].kind(), ErrorReport::TargetInCache);
    }
}

TEST(ChromiumRealSetups, EntriesStillBeingWrittenAreNotTakenAsWhole) {
    // A running browser: stream 0 rewritten (simple), an entry open for
    // writing (block file) are left out; a body that no longer matches its
    // CRC-32 (too costly to read while listing) fails its copy.
    TempDir dir;
    const fs::path simple = dir / "simple";
    writeCache(simple, R"(
[entry]
url = http://a.org/whole.png
body = text whole
[entry]
url = http://a.org/head.png
body = text head
damage = head-crc
[entry]
url = http://a.org/body.png
body = text body
damage = being-written
[entry]
url = http://a.org/gzip.js
header = Content-Encoding: gzip
body = text \x1f\x8b\x08 cut short
damage = being-written
[entry]
url = http://a.org/unchecked.png
body = text no checksum kept
crc = no
)");
    writeCache(dir / "blocks", R"(
[cache]
format = blockfile
[entry]
url = http://a.org/whole.png
body = text whole
[entry]
url = http://a.org/open.png
body = text open
damage = being-written
)");
    for (const fs::path& folder : {simple, dir / "blocks"}) {
        ChromiumCacheReader reader("chromium", pathToUtf8(folder));
        const Reading reading = openAndRead(reader);
        EXPECT_EQ(reading.skipped.byReason,
                  (std::map<std::string, uint64_t>{{"still being written", 1}}));
        CombRecord record;
        const CombResult result = combInto(reader, reading, dir / "kept", record);
        const bool isSimple = folder == simple;
        EXPECT_EQ(result.kept, isSimple ? 2u : 1u);
        EXPECT_EQ(record.failures,
                  std::vector<std::string>(
                      isSimple ? 2 : 0,
                      "the cached data is still being written (its checksum does not match)"));
    }
    std::multiset<std::string> kept;
    for (const auto& file : fs::directory_iterator(dir / "kept")) {
        kept.insert(readFile(file.path()));
    }
    EXPECT_EQ(kept, (std::multiset<std::string>{"whole", "whole", "no checksum kept"}));
}

TEST(ChromiumRealSetups, MediaFetchedInRangesIsKeptOnlyWhenEveryByteIsThere) {
    // A 206 head in `_0`, the bytes in ranges of `_s`, written in any order:
    // all of the resource is one file equal to it; a gap, an overlap, an
    // unknown total leave it out; a range that no longer matches its CRC-32,
    // or bytes gone since the listing, fail its copy.
    TempDir dir;
    const fs::path folder = dir / "Cache_Data";
    const std::string media = R"(
status = 206
type = video/webm
header = Content-Range: bytes 0-9/20
body = text 0123456789abcdefghij
sparse = yes
)";
    writeCache(folder, "[entry]\nurl = http://a.org/whole.webm" + media +
                           "ranges = 10:10 0:4 4:6\n"
                           "[entry]\nurl = http://a.org/one.webm" +
                           media + "[entry]\nurl = http://a.org/gap.webm" + media +
                           "ranges = 0:8 12:8\n"
                           "[entry]\nurl = http://a.org/half.webm" +
                           media +
                           "ranges = 0:10\n"
                           "[entry]\nurl = http://a.org/overlap.webm" +
                           media +
                           "ranges = 0:12 10:10\n"
                           "[entry]\nurl = http://a.org/writing.webm" +
                           media +
                           "ranges = 0:10 10:10\ndamage = range-crc\n"
                           "[entry]\nurl = http://a.org/cut.webm" +
                           media +
                           "[entry]\nurl = http://a.org/unknown.webm\nstatus = 206\n"
                           "header = Content-Range: bytes 0-9/*\nbody = text 0123456789\n"
                           "sparse = yes\n");
    ChromiumCacheReader reader("chromium", pathToUtf8(folder));
    const Reading reading = openAndRead(reader);
    EXPECT_EQ(reading.skipped.byReason,
              (std::map<std::string, uint64_t>{{"incomplete media", 2},
                                               {"damaged range file (overlapping ranges)", 1},
                                               {"partial response (206)", 1}}));
    std::map<std::string, const CacheEntry*> byUrl;
    for (const CacheEntry* entry : reading.view()) {
        byUrl[entry->url] = entry;
    }
    ASSERT_EQ(byUrl.size(), 4u);
    const CacheEntry& whole = *byUrl.at("http://a.org/whole.webm");
    EXPECT_EQ(whole.size, 20u);
    EXPECT_EQ(whole.contentTypeText, "video/webm");
    EXPECT_EQ(whole.dataFile.substr(whole.dataFile.size() - 2), "_s");
    EXPECT_NE(reader.responseHead(whole).find("Content-Range: bytes 0-9/20"), std::string::npos);

    // Bytes gone after the listing: the copy fails, and leaves nothing.
    const fs::path cut = folder / fs::path(byUrl.at("http://a.org/cut.webm")->dataFile).filename();
    fs::resize_file(cut, fs::file_size(cut) - 1);
    CombRecord record;
    const CombResult result = combInto(reader, reading, dir / "kept", record);
    EXPECT_EQ(result.kept, 2u);
    EXPECT_EQ(record.failures.size(), 2u);
    EXPECT_EQ(std::count(record.failures.begin(), record.failures.end(),
                         "the cached data is still being written (its checksum does not match)"),
              1);
    for (const auto& file : fs::directory_iterator(dir / "kept")) {
        EXPECT_EQ(readFile(file.path()), "0123456789abcdefghij");
    }
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
