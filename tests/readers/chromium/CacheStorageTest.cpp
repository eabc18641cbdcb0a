// The Chromium family's service-worker caches: the index's named caches,
// each entry's protobuf metadata, which entries a comb may use, and bodies
// copied as the page received them (never decoded again).
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "ChromeCacheWriter.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"
#include "readers/CombinedReader.h"
#include "readers/chromium/CacheStorage.h"
#include "readers/chromium/CacheStorageReader.h"
#include "readers/chromium/ChromiumCacheReader.h"
#include "readers/chromium/Protobuf.h"
#include "support/TestSupport.h"

namespace harvix::chromium {
namespace {

using chromecache::protoField;
using chromecache::protoNumber;

std::string metadata(const std::string& method, int status, uint64_t type,
                     const std::vector<std::pair<std::string, std::string>>& headers) {
    std::string response =
        protoNumber(1, static_cast<uint64_t>(status)) + protoField(2, "OK") + protoNumber(3, type);
    for (const auto& [name, value] : headers) {
        response += protoField(4, protoField(1, name) + protoField(2, value));
    }
    response += protoNumber(6, 13400000000000000ULL);  // 2025, in µs since 1601
    return protoField(1, protoField(1, method)) + protoField(2, response);
}

chromecache::Entry entry(const std::string& url, const std::string& stream0,
                         const std::string& body) {
    chromecache::Entry made;
    made.key = url;
    made.stream0 = stream0;
    made.body = body;
    return made;
}

TEST(ChromiumCacheStorage, NamedCachesEntriesByReasonBodiesAsReceived) {
    TempDir dir;
    const fs::path store = dir.path() / "chromium" / "Default" / "Service Worker" / "CacheStorage";
    const fs::path origin = store / "0123456789abcdef0123456789abcdef01234567";
    const std::string named = "aaaaaaaa-1111-4222-8333-444444444444";
    const std::string unnamed = "bbbbbbbb-1111-4222-8333-444444444444";
    // The index names one cache (in UTF-16, "pics") and the origin; the
    // other folder was made after the index was last written.
    fs::create_directories(origin);
    writeFile(origin / "index.txt",
              protoField(1, protoField(1, "old") + protoField(2, named) + protoNumber(3, 10) +
                                protoField(7, std::string("p\0i\0c\0s\0", 8))) +
                  protoField(2, "https://a.org/"));
    const std::string json = "{\"feed\": [1, 2, 3]}";
    chromecache::writeSimpleCache(
        origin / named,
        {entry("https://a.org/feed.json",
               metadata("GET", 200, 0,
                        {{"Content-Type", "application/json"}, {"Content-Encoding", "gzip"}}),
               json),
         entry("https://cdn.org/pic.jpg", metadata("GET", 0, 4, {}), "opaque jpeg"),
         entry("https://a.org/form", metadata("POST", 200, 0, {}), "posted"),
         entry("https://a.org/gone", metadata("GET", 404, 0, {}), "gone"),
         entry("https://a.org/cut", "\x0a\x05\x0a", "damaged"),
         entry("https://a.org/empty", metadata("GET", 200, 0, {}), "")});
    chromecache::writeSimpleCache(
        origin / unnamed, {entry("https://a.org/late.png",
                                 metadata("GET", 203, 1, {{"content-type", "image/png"}}), "png")});

    CacheStorageReader reader(pathToUtf8(dir.path() / "chromium"));
    ASSERT_FALSE(openCache(reader));
    EXPECT_EQ(reader.cacheFolders(), std::vector<fs::path>{resolveFolder(store)});
    const Reading reading = readCache(reader);
    std::map<std::string, const CacheEntry*> byUrl;
    for (const auto& read : reading.entries) {
        byUrl[read->url] = read.get();
    }
    ASSERT_EQ(byUrl.size(), 3u);
    ASSERT_EQ(reader.caches().size(), 2u);
    EXPECT_EQ(reader.caches()[0].name, "pics");
    EXPECT_EQ(reader.caches()[0].origin, "https://a.org/");
    EXPECT_EQ(reader.caches()[1].name, "");
    EXPECT_EQ(reading.skipped.byReason,
              (std::map<std::string, uint64_t>{{"not a GET request", 1},
                                               {"status other than 200 or 203", 1},
                                               {"damaged entry metadata", 1},
                                               {"empty body", 1}}));
    // The body is stored decoded though its header still names gzip: it is
    // copied as it is; its head lists every stored header, and a web
    // archive gets it without the coding.
    const CacheEntry& feed = *byUrl.at("https://a.org/feed.json");
    EXPECT_EQ(feed.contentTypeText, "application/json");
    EXPECT_EQ(feed.time, 1755526400);
    EXPECT_EQ(feed.dataFile.rfind("Default/Service Worker/CacheStorage/", 0), 0u);
    EXPECT_FALSE(copyIsDecoded(reader, feed));
    copyBodyToFile(reader, feed, dir.path() / "feed");
    EXPECT_EQ(readFile(dir.path() / "feed"), json);
    EXPECT_EQ(reader.responseHead(feed),
              "HTTP/1.1 200 OK\nContent-Type: application/json\nContent-Encoding: gzip\n");
    EXPECT_EQ(reader.archiveHead(feed), "HTTP/1.1 200 OK\nContent-Type: application/json\n");
    EXPECT_EQ(byUrl.at("https://a.org/late.png")->contentTypeText, "image/png");

    // A damaged index is counted; the folders are still read.
    writeFile(origin / "index.txt", "\x0a\x7f");
    CacheStorageReader again(pathToUtf8(origin));
    ASSERT_FALSE(openCache(again));
    const Reading reread = readCache(again);
    EXPECT_EQ(reread.entries.size(), 3u);
    EXPECT_EQ(reread.skipped.byReason.at("damaged cache index"), 1u);
    EXPECT_TRUE(isCacheStorageFolder(origin));
    EXPECT_FALSE(isCacheStorageFolder(origin / named));
}

// A listing prints entries as they are read and keeps none: it must see
// the entries a whole reading holds, in the same order, with the same
// numbers and stores, and the same reasons for what was left out.
TEST(ChromiumCacheStorage, AStreamedReadingOfBothStoresMatchesAWholeOne) {
    TempDir dir;
    const fs::path root = dir.path() / "chromium";
    std::vector<chromecache::Entry> http;
    for (const char* name : {"a.png", "b.css", "c.js"}) {
        chromecache::Entry made;
        made.key = chromecache::splitCacheKey(std::string("https://h.org/") + name);
        made.head = chromecache::rawHead(200, {"Content-Type: text/plain"});
        made.body = name;
        made.responseTime = 1700000000;
        http.push_back(made);
    }
    http[1].head = chromecache::rawHead(404, {});
    chromecache::writeSimpleCache(root / "Default" / "Cache" / "Cache_Data", http);
    chromecache::writeSimpleCache(
        root / "Default" / "Service Worker" / "CacheStorage" /
            "0123456789abcdef0123456789abcdef01234567" / "aaaaaaaa-1111-4222-8333-444444444444",
        {entry("https://a.org/x.json", metadata("GET", 200, 0, {}), "x"),
         entry("https://a.org/form", metadata("POST", 200, 0, {}), "posted"),
         entry("https://a.org/y.json", metadata("GET", 200, 0, {}), "y")});
    const auto combined = [&] {
        std::vector<std::unique_ptr<CacheReader>> stores;
        stores.push_back(std::make_unique<ChromiumCacheReader>("chromium", pathToUtf8(root),
                                                               std::vector<fs::path>{}));
        stores.push_back(std::make_unique<CacheStorageReader>(pathToUtf8(root)));
        return std::make_unique<CombinedReader>(std::move(stores));
    };
    const auto whole = combined();
    ASSERT_FALSE(openCache(*whole));
    const Reading reading = readCache(*whole);
    const auto streamed = combined();
    ASSERT_FALSE(openCache(*streamed));
    std::vector<std::tuple<std::string, uint32_t, int>> seen;
    std::map<std::string, std::string> copies;
    const SkipCounts skipped = streamCache(*streamed, [&](const CacheEntry& e) {
        seen.emplace_back(e.url, e.index, e.store);
        // The entry is still there to be copied while it is handed on.
        const fs::path copy = dir.path() / ("copy" + std::to_string(e.index));
        copyBodyToFile(*streamed, e, copy);
        copies[e.url] = readFile(copy);
    });
    std::vector<std::tuple<std::string, uint32_t, int>> held;
    for (const auto& e : reading.entries) {
        held.emplace_back(e->url, e->index, e->store);
    }
    EXPECT_EQ(seen, held);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(std::get<2>(seen.front()), 0);
    EXPECT_EQ(std::get<2>(seen.back()), 1);
    EXPECT_EQ(copies, (std::map<std::string, std::string>{{"https://h.org/a.png", "a.png"},
                                                          {"https://h.org/c.js", "c.js"},
                                                          {"https://a.org/x.json", "x"},
                                                          {"https://a.org/y.json", "y"}}));
    EXPECT_EQ(skipped.byReason, reading.skipped.byReason);
    EXPECT_EQ(skipped.byReason.size(), 2u);
    // The reader reads whole again afterwards.
    EXPECT_EQ(readCache(*streamed).entries.size(), 4u);
}

TEST(ChromiumCacheStorage, WireFormatEdgesAreRefusedNeverOverread) {
    const auto fails = [](const std::string& bytes) {
        ProtoReader reader({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
        while (reader.next()) {
        }
        return reader.failed();
    };
    EXPECT_FALSE(
        fails(protoField(1, "abc") + protoNumber(2, UINT64_MAX) + std::string("\x1d\1\2\3\4", 5)));
    EXPECT_TRUE(fails(std::string("\x0a\x04", 2) + "abc"));  // length past the end
    EXPECT_TRUE(fails(std::string("\x08") + std::string(10, '\xff') + "\x01"));  // over 64 bits
    EXPECT_TRUE(fails("\x0b"));                                                  // a group
    EXPECT_TRUE(fails(std::string("\x00\x01", 2)));                              // field 0
    EXPECT_TRUE(fails("\x09\x01\x02"));                                          // fixed64 cut
    EXPECT_TRUE(parseCacheStorageIndex({}).value().caches.empty());
    const std::string noFolder = protoField(1, protoField(1, "name"));
    EXPECT_FALSE(parseCacheStorageIndex(
        {reinterpret_cast<const unsigned char*>(noFolder.data()), noFolder.size()}));
    const std::string noResponse = protoField(1, protoField(1, "GET"));
    EXPECT_FALSE(parseCacheMetadata(
        {reinterpret_cast<const unsigned char*>(noResponse.data()), noResponse.size()}));
}

}  // namespace
}  // namespace harvix::chromium
