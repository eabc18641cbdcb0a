// Firefox's service-worker caches: which entries of caches.sqlite a comb
// may use, their snappy-framed bodies copied as the page received them, a
// damaged database or body told apart, and the store never touched.
#include <gtest/gtest.h>

#include <map>

#include "DomCacheWriter.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"
#include "readers/CombinedReader.h"
#include "readers/cache2/FirefoxCache2Reader.h"
#include "readers/domcache/DomCacheDatabase.h"
#include "readers/domcache/DomCacheReader.h"
#include "support/TestSupport.h"

namespace harvix {
namespace {

using mozcache::DomCacheRecord;

// Every file below `folder` with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        files[item.path().lexically_relative(folder).string()] =
            item.is_regular_file() ? readFile(item.path()) : "<folder>";
    }
    return files;
}

DomCacheRecord record(std::string url, std::string method, int status, int type,
                      std::string contentType, std::string body, int nameSpace = 0) {
    DomCacheRecord made;
    made.url = std::move(url);
    made.method = std::move(method);
    made.status = status;
    made.responseType = type;
    made.contentType = std::move(contentType);
    made.body = std::move(body);
    made.nameSpace = nameSpace;
    return made;
}

std::string bigBody() {
    std::string body;
    for (int i = 0; i < 200000; ++i) {
        body += static_cast<char>('a' + (i * 7919 % 26));
    }
    return body;
}

TEST(DomCacheStore, PageEntriesReadOddOnesCountedTheStoreUntouched) {
    TempDir dir;
    const fs::path profile = dir.path() / "x1.default-esr";
    std::vector<DomCacheRecord> records(9);
    records[0] = record("https://a.org/big.png", "GET", 200, 0, "image/png", bigBody());
    records[1] =
        record("https://a.org/feed.json?page=2", "GET", 200, 0, "application/json", "{\"a\":1}");
    records[1].firefoxCrc = false;
    records[2] = record("https://cdn.org/opaque.jpg", "GET", 0, 4, "", "jpeg bytes");
    records[3] = record("https://a.org/form", "POST", 200, 0, "text/html", "posted");
    records[4] = record("https://a.org/gone", "GET", 404, 0, "text/html", "not here");
    records[5] = record("https://a.org/sw.js", "GET", 200, 0, "text/javascript", "script", 1);
    records[6] = record("https://a.org/old.png", "GET", 200, 0, "image/png", "deleted", -1);
    records[7] = record("https://a.org/lost.png", "GET", 200, 0, "image/png", "lost");
    records[7].bodyFile = false;
    records[8] = record("https://a.org/nothing", "GET", 200, 0, "text/plain", "");
    records[0].statusText = "Fine";
    records[0].headers = {{"Content-Encoding", "br"}, {"x-kept", "a: b"}};
    // All but the first committed to the write-ahead log only, as a
    // Firefox still running (or killed) leaves them.
    mozcache::writeDomCacheStore(profile, "https+++a.org", records, 1);
    const fs::path store = profile / "storage" / "default";
    ASSERT_GT(fs::file_size(store / "https+++a.org/cache/caches.sqlite-wal"), 4096u);
    const auto before = snapshot(store);

    // Beside an HTTP cache that is not there: the store alone opens, and
    // its entries come back to it.
    CombinedReader reader([&] {
        std::vector<std::unique_ptr<CacheReader>> stores;
        stores.push_back(std::make_unique<FirefoxCache2Reader>(dir.path() / "no" / "cache2"));
        stores.push_back(std::make_unique<DomCacheReader>(pathToUtf8(profile)));
        return stores;
    }());
    ASSERT_FALSE(openCache(reader));
    EXPECT_EQ(reader.cacheFolders(), std::vector<fs::path>{resolveFolder(store)});
    const Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 3u);
    const std::string expected[] = {records[0].body, records[1].body, records[2].body};
    for (std::size_t i = 0; i < 3; ++i) {
        const CacheEntry& entry = *reading.entries[i];
        EXPECT_EQ(entry.url, records[i].url);
        EXPECT_EQ(entry.store, 1);
        EXPECT_EQ(entry.dataFile.rfind("storage/default/https+++a.org/cache/morgue/", 0), 0u);
        EXPECT_TRUE(copyIsDecoded(reader, entry));
        copyBodyToFile(reader, entry, dir.path() / ("copy" + std::to_string(i)));
        EXPECT_TRUE(readFile(dir.path() / ("copy" + std::to_string(i))) == expected[i]);
    }
    EXPECT_EQ(reading.entries[0]->contentTypeText, "image/png");
    // The stored head, every header in stored order; the bodies, decoded
    // and framed, are no body as sent for a web archive.
    EXPECT_EQ(reader.responseHead(*reading.entries[0]),
              "HTTP/1.1 200 Fine\nContent-Type: image/png\nContent-Encoding: br\nx-kept: a: b\n");
    EXPECT_EQ(reader.responseHead(*reading.entries[2]), "HTTP/1.1 0 OK\n");
    EXPECT_FALSE(reader.archiveHead(*reading.entries[0]));
    EXPECT_EQ(reading.skipped.byReason, (std::map<std::string, uint64_t>{
                                            {"not a GET request", 1},
                                            {"status other than 200 or 203", 1},
                                            {"the browser's own cache (service-worker scripts)", 1},
                                            {"cache deleted by the page", 1},
                                            {"body file missing", 1},
                                            {"empty body", 1}}));
    // Read from memory: no journal, no -shm, no byte changed.
    EXPECT_EQ(snapshot(store), before);
}

TEST(DomCacheStore, DamagedDatabasesAndBodiesAreToldNeverTrusted) {
    TempDir dir;
    const fs::path profile = dir.path() / "p";
    mozcache::writeDomCacheStore(
        profile, "https+++a.org",
        {record("https://a.org/a.png", "GET", 200, 0, "image/png", "png")});
    mozcache::writeDomCacheStore(
        profile, "https+++b.org",
        {record("https://b.org/b.png", "GET", 200, 0, "image/png", "png")});
    const fs::path cacheA = profile / "storage/default/https+++a.org/cache";
    // One database cut in half, one body damaged.
    const std::string database = readFile(cacheA / "caches.sqlite");
    writeFile(cacheA / "caches.sqlite", database.substr(0, database.size() / 2));
    DomCacheReader reader(pathToUtf8(profile / "storage" / "default" / "https+++b.org"));
    ASSERT_FALSE(openCache(reader));
    const Reading reading = readCache(reader);
    ASSERT_EQ(reading.entries.size(), 1u);
    EXPECT_EQ(reading.skipped.byReason.size(), 1u);
    EXPECT_EQ(reading.skipped.byReason.begin()->first.rfind("damaged cache database", 0), 0u);
    const fs::path body = profile / reading.entries[0]->dataFile;
    std::string framed = readFile(body);
    framed[framed.size() - 1] ^= 0x20;
    writeFile(body, framed);
    EXPECT_THROW(copyBodyToFile(reader, *reading.entries[0], dir.path() / "copy"), ErrorReport);
    EXPECT_FALSE(fs::exists(dir.path() / "copy"));

    // A log whose last commit (the last row, one commit each) is torn keeps
    // the commits before it.
    const fs::path torn = dir.path() / "torn";
    mozcache::writeDomCacheStore(torn, "https+++c.org",
                                 {record("https://c.org/1.png", "GET", 200, 0, "", "1"),
                                  record("https://c.org/2.png", "GET", 200, 0, "", "2"),
                                  record("https://c.org/3.png", "GET", 200, 0, "", "3")},
                                 1);
    const fs::path log = torn / "storage/default/https+++c.org/cache/caches.sqlite-wal";
    std::string logBytes = readFile(log);
    logBytes.back() ^= 0x01;
    writeFile(log, logBytes);
    DomCacheReader tornReader(pathToUtf8(torn));
    ASSERT_FALSE(openCache(tornReader));
    const Reading tornReading = readCache(tornReader);
    ASSERT_EQ(tornReading.entries.size(), 2u);
    EXPECT_EQ(tornReading.entries[1]->url, "https://c.org/2.png");
    EXPECT_TRUE(tornReading.skipped.byReason.empty());

    // Bytes that are no database, and a database without the tables.
    std::string why;
    std::vector<unsigned char> garbage(4096, 0x41);
    EXPECT_FALSE(domcache::readDomCacheRows(garbage, why));
    EXPECT_FALSE(why.empty());
    std::vector<unsigned char> header(database.begin(), database.begin() + 100);
    EXPECT_FALSE(domcache::readDomCacheRows(header, why));
    EXPECT_EQ(domcache::morguePath("{12345678-0000-4000-8000-0000000000ff}"),
              "morgue/255/{12345678-0000-4000-8000-0000000000ff}.final");
    EXPECT_EQ(domcache::morguePath("{../../etc/passwd-0000-4000-8000-000000}"), "");
}

}  // namespace
}  // namespace harvix
