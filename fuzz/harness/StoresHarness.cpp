// The readers of the service-worker stores under fuzzing: Chromium's index
// and entry metadata (protocol buffers), and Firefox's caches.sqlite with
// its write-ahead log, read as a database and through its reader, which
// must leave both as they were.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "ChromeCacheWriter.h"
#include "DomCacheWriter.h"
#include "FuzzHarness.h"
#include "HarnessSupport.h"
#include "SeedCorpus.h"
#include "base/ByteOrder.h"
#include "readers/chromium/CacheStorage.h"
#include "readers/chromium/CacheStorageFormat.h"
#include "readers/domcache/DomCacheDatabase.h"
#include "readers/domcache/DomCacheFormat.h"
#include "readers/domcache/DomCacheReader.h"
#include "readers/domcache/DomCacheWal.h"

namespace harvix::fuzzing {

namespace {

using chromecache::protoField;

}  // namespace

void runCacheStorage(const uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> bytes(data, size);
    if (const auto index = chromium::parseCacheStorageIndex(bytes)) {
        check(index->caches.size() <= cachestorage::kMaxCaches, "more caches than the bound");
        for (const auto& cache : index->caches) {
            check(!cache.folder.empty() && cache.folder.size() <= size,
                  "a cache folder out of the bytes");
        }
    }
    if (const auto metadata = chromium::parseCacheMetadata(bytes)) {
        check(metadata->headers.size() <= cachestorage::kMaxHeaders, "more headers than the bound");
        check(metadata->head().size() <= 16 + 4 * size + 32, "a head longer than its bytes allow");
    }
    chromium::CacheStorageRecord record;
    if (chromium::acceptCacheStorageEntry("https://a.org/x", bytes, 1, record) == nullptr) {
        check(record.url == "https://a.org/x", "the URL is not the key");
        check(record.time >= 0, "a negative time");
    }
}

void runDomCache(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    // The database, then its log from the first 512-byte boundary holding a
    // log's magic number (a database is a whole number of pages).
    std::size_t split = size;
    for (std::size_t at = 0; at + 4 <= size; at += 512) {
        const uint32_t magic = loadBe32(data + at);
        if (magic == domcache::kWalMagicLittleEndian || magic == domcache::kWalMagicBigEndian) {
            split = at;
            break;
        }
    }
    const std::string database(reinterpret_cast<const char*>(data), split);
    const std::string log(reinterpret_cast<const char*>(data) + split, size - split);

    std::vector<unsigned char> bytes(database.begin(), database.end());
    const auto read = [&log](uint64_t offset, unsigned char* into, std::size_t length) {
        if (offset > log.size() || length > log.size() - offset) {
            return false;
        }
        std::copy_n(log.data() + offset, length, into);
        return true;
    };
    const domcache::WalOutcome outcome =
        domcache::applyWal(bytes, log.size(), read, domcache::kMaxDatabaseSize);
    check(bytes.size() <= std::max<std::size_t>(database.size(), domcache::kMaxDatabaseSize),
          "a database image past its bound");
    std::string why;
    if (outcome != domcache::WalOutcome::Unreadable && !domcache::readDomCacheRows(bytes, why)) {
        check(!why.empty(), "a refused database without a reason");
    }
    // Through the reader, from a store folder: the database and its log are
    // never changed, nothing is made beside them.
    std::error_code ec;
    fs::remove_all(scratch / "p", ec);
    const fs::path cache = scratch / "p" / "storage" / "default" / "https+++a.org" / "cache";
    fs::create_directories(cache);
    writeBytes(cache / "caches.sqlite", database);
    if (!log.empty()) {
        writeBytes(cache / "caches.sqlite-wal", log);
    }
    DomCacheReader reader((scratch / "p").string());
    if (!openCache(reader)) {
        const Reading reading = readCache(reader);
        check(reading.entries.empty(), "an entry without a body file");
    }
    check(readBytes(cache / "caches.sqlite") == database, "the database was changed");
    check(log.empty() || readBytes(cache / "caches.sqlite-wal") == log, "the log was changed");
    check(std::distance(fs::directory_iterator(cache), fs::directory_iterator()) ==
              (log.empty() ? 1 : 2),
          "a file was made beside the database");
}

std::vector<std::pair<std::string, std::string>> cacheStorageSeeds() {
    const std::string response =
        std::string("\x08\xc8\x01", 3) + protoField(2, "OK") +
        protoField(4, protoField(1, "Content-Type") + protoField(2, "image/png"));
    return {{"index", protoField(1, protoField(1, "pics") +
                                        protoField(2, "aaaaaaaa-1111-4222-8333-444444444444")) +
                          protoField(2, "https://a.org/")},
            {"metadata", protoField(1, protoField(1, "GET")) + protoField(2, response)}};
}

std::vector<std::pair<std::string, std::string>> domCacheSeeds(const fs::path& scratch) {
    std::vector<mozcache::DomCacheRecord> records(3);
    records[0].url = "https://a.org/a.png";
    records[0].contentType = "image/png";
    records[0].body = "png";
    records[1].url = "https://a.org/f?x=1";
    records[1].method = "POST";
    records[1].body = "form";
    records[2].url = "https://a.org/sw.js";
    records[2].nameSpace = 1;
    records[2].body = "script";
    mozcache::writeDomCacheStore(scratch / "seed", "https+++a.org", records);
    // The same rows, the last two committed to the log only.
    mozcache::writeDomCacheStore(scratch / "logged", "https+++a.org", records, 1);
    const std::string logged = "logged/storage/default/https+++a.org/cache/caches.sqlite";
    return {{"caches.sqlite",
             readBytes(scratch / "seed" / "storage/default/https+++a.org/cache/caches.sqlite")},
            {"caches.sqlite+wal",
             readBytes(scratch / logged) + readBytes(scratch / (logged + "-wal"))}};
}

}  // namespace harvix::fuzzing
