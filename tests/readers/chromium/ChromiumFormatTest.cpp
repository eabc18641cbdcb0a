// The Chromium cache parsers at their edges: entry files and block files as
// the writer makes them, odd and damaged, read byte by byte.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "ChromeCacheWriter.h"
#include "readers/chromium/BlockFileParser.h"
#include "readers/chromium/ChromiumFiles.h"
#include "readers/chromium/ResponseInfo.h"
#include "readers/chromium/SimpleCacheParser.h"
#include "support/TestSupport.h"

namespace harvix::chromium {
namespace {

std::vector<unsigned char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

chromecache::Entry entry(const std::string& url, const std::string& body,
                         std::vector<std::string> headers = {}) {
    chromecache::Entry e;
    e.key = chromecache::splitCacheKey(url);
    e.body = body;
    headers.push_back("Content-Length: " + std::to_string(body.size()));
    e.head = chromecache::rawHead(200, headers);
    e.requestTime = e.responseTime = 1700000123;
    return e;
}

SimpleEntryProblem parseWritten(const chromecache::Entry& e, SimpleEntryFile& out) {
    TempDir dir;
    const auto names = chromecache::writeSimpleCache(dir.path(), {e});
    return parseSimpleEntry(MemoryBytes(bytesOf(dir.path() / names.at(0))), out);
}

TEST(ChromiumResponseInfo, PickleFieldsTimesAndKeys) {
    chromecache::Entry e = entry("http://a.org/x.png", "body", {"Content-Type: image/png"});
    for (bool extra : {true, false}) {
        e.extraFlags = extra;
        const std::string pickle = chromecache::pickleResponseInfo(e);
        const auto info = parseResponseInfo(
            std::span(reinterpret_cast<const unsigned char*>(pickle.data()), pickle.size()));
        ASSERT_TRUE(info);
        EXPECT_EQ(unixTimeFromChromium(info->responseTime), 1700000123);
        EXPECT_EQ(info->rawHeaders, e.head);
        EXPECT_FALSE(info->truncated());
        // Every shorter pickle is refused or yields the same prefix, never more.
        for (std::size_t cut = 0; cut < pickle.size(); ++cut) {
            std::vector<unsigned char> part(pickle.begin(), pickle.begin() + cut);
            const auto partial = parseResponseInfo(part);
            if (partial) {
                EXPECT_EQ(partial->rawHeaders, e.head);
            }
        }
    }
    e.damage = chromecache::Damage::BadPickle;
    const std::string bad = chromecache::pickleResponseInfo(e);
    EXPECT_FALSE(parseResponseInfo(
        std::span(reinterpret_cast<const unsigned char*>(bad.data()), bad.size())));
    // Unknown versions (0 and 4) are refused.
    for (char version : {'\0', '\4'}) {
        std::string other = chromecache::pickleResponseInfo(entry("http://a.org/", "x"));
        other[4] = version;
        EXPECT_FALSE(parseResponseInfo(
            std::span(reinterpret_cast<const unsigned char*>(other.data()), other.size())));
    }

    EXPECT_EQ(unixTimeFromChromium(0), 0);
    EXPECT_EQ(unixTimeFromChromium(kEpochDeltaMicroseconds), 0);
    EXPECT_EQ(unixTimeFromChromium(kEpochDeltaMicroseconds + 1500000), 1);
    EXPECT_EQ(unixTimeFromChromium(INT64_MIN), 0);

    EXPECT_EQ(urlFromKey("1/0/_dk_http://a.org http://a.org http://a.org/x y"), "");
    EXPECT_EQ(urlFromKey("1/0/_dk_https://a.org https://a.org HTTPS://a.org/x"), "HTTPS://a.org/x");
    EXPECT_EQ(urlFromKey("http://plain.org/old-key"), "http://plain.org/old-key");
    EXPECT_EQ(urlFromKey("1/0/_dk_chrome://x chrome://x chrome-extension://abc/y"), "");
    EXPECT_EQ(urlFromKey("http://a.org/ "), "");
    EXPECT_EQ(urlFromKey(""), "");
}

TEST(ChromiumSimpleEntry, ReadsHeaderKeyAndTailOnly) {
    SimpleEntryFile out;
    // Short key and small response info; long key (beyond the first read);
    // response info larger than the tail read; without the key's SHA-256.
    chromecache::Entry small = entry("http://a.org/s.css", "body{}");
    chromecache::Entry longKey = entry("http://a.org/" + std::string(5000, 'k'), "x");
    chromecache::Entry bigHead =
        entry("http://a.org/h", std::string(100, 'b'), {"X-Big: " + std::string(20000, 'h')});
    chromecache::Entry noSha = small;
    noSha.keySha256 = false;
    for (const chromecache::Entry* e : {&small, &longKey, &bigHead, &noSha}) {
        ASSERT_EQ(parseWritten(*e, out), SimpleEntryProblem::None);
        EXPECT_EQ(out.key, e->key);
        EXPECT_EQ(out.bodyOffset, 24 + e->key.size());
        EXPECT_EQ(out.bodyLength, e->body.size());
        const auto info = parseResponseInfo(out.stream0);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->rawHeaders, e->head);
    }
    // An empty body is read as such.
    ASSERT_EQ(parseWritten(entry("http://a.org/e", ""), out), SimpleEntryProblem::None);
    EXPECT_EQ(out.bodyLength, 0u);
}

TEST(ChromiumSimpleEntry, DamagedFilesAreRefusedNeverOverread) {
    using chromecache::Damage;
    const std::pair<Damage, SimpleEntryProblem> cases[] = {
        {Damage::BadMagic, SimpleEntryProblem::BadMagic},
        {Damage::BadVersion, SimpleEntryProblem::BadVersion},
        {Damage::BadKeyLength, SimpleEntryProblem::BadKey},
        {Damage::BadEndRecord, SimpleEntryProblem::BadEndRecord},
        {Damage::Stream0TooLarge, SimpleEntryProblem::BadEndRecord},
    };
    SimpleEntryFile out;
    for (const auto& [damage, problem] : cases) {
        chromecache::Entry e = entry("http://a.org/d", "data");
        e.damage = damage;
        EXPECT_EQ(parseWritten(e, out), problem) << static_cast<int>(damage);
    }
    // A file cut anywhere: refused, or (cut inside nothing) never a body past the end.
    TempDir dir;
    const auto names =
        chromecache::writeSimpleCache(dir.path(), {entry("http://a.org/c", "0123456789")});
    const std::vector<unsigned char> whole = bytesOf(dir.path() / names[0]);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        std::vector<unsigned char> cut(whole.begin(), whole.begin() + length);
        const SimpleEntryProblem problem = parseSimpleEntry(MemoryBytes(cut), out);
        EXPECT_NE(problem, SimpleEntryProblem::None) << length;
    }
    // Random bytes over the whole file never make a body that leaves it.
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<unsigned char> bytes = whole;
        for (int flips = 0; flips < 4; ++flips) {
            bytes[random() % bytes.size()] = static_cast<unsigned char>(random());
        }
        if (parseSimpleEntry(MemoryBytes(bytes), out) == SimpleEntryProblem::None) {
            EXPECT_LE(out.bodyOffset + out.bodyLength, bytes.size());
            EXPECT_LE(out.stream0.size(), bytes.size());
        }
    }
}

// The index as Chromium writes it: a pickle whose header carries the
// payload's size and CRC-32. Versions before 7 have no reason field.
std::vector<unsigned char> indexPickle(uint32_t version, uint64_t count,
                                       const std::vector<std::pair<uint64_t, int64_t>>& uses) {
    std::string payload;
    const auto put = [&payload](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            payload += static_cast<char>(value >> (8 * i));
        }
    };
    put(0x656e74657220796fULL, 8);
    put(version, 4);
    put(count, 8);
    put(0, 8);
    if (version >= 7) {
        put(0, 4);
    }
    for (const auto& [hash, lastUsed] : uses) {
        put(hash, 8);
        put(static_cast<uint64_t>(lastUsed), 8);
        put(0x100, 8);
    }
    put(0, 8);
    std::string pickle;
    const uint32_t crc = chromecache::crc32Of(payload);
    for (const uint32_t word : {static_cast<uint32_t>(payload.size()), crc}) {
        for (int i = 0; i < 4; ++i) {
            pickle += static_cast<char>(word >> (8 * i));
        }
    }
    pickle += payload;
    return {pickle.begin(), pickle.end()};
}

TEST(ChromiumSimpleIndex, LastUsesByHashDamageRefusedWhole) {
    const int64_t used = 13400000000000000;  // µs since 1601
    for (const uint32_t version : {6u, 9u}) {
        const auto uses = parseSimpleIndex(indexPickle(version, 2, {{9, used}, {3, 0}}));
        ASSERT_TRUE(uses) << version;
        ASSERT_EQ(uses->size(), 2u);
        EXPECT_EQ((*uses)[0].hash, 3u);
        EXPECT_EQ((*uses)[1].lastUsed, used);
        EXPECT_EQ(lastUseOf(*uses, 9), unixTimeFromChromium(used));
        EXPECT_EQ(lastUseOf(*uses, 3), 0);  // the index knows no time for it
        EXPECT_EQ(lastUseOf(*uses, 4), 0);  // nor the entry at all
    }
    // A version this reader does not know, a count the bytes cannot hold (no
    // allocation for it), a byte changed under the CRC-32, a cut pickle.
    EXPECT_FALSE(parseSimpleIndex(indexPickle(10, 1, {{9, used}})));
    EXPECT_FALSE(parseSimpleIndex(indexPickle(9, uint64_t{1} << 60, {{9, used}})));
    std::vector<unsigned char> flipped = indexPickle(9, 1, {{9, used}});
    flipped[30] ^= 1;
    EXPECT_FALSE(parseSimpleIndex(flipped));
    const std::vector<unsigned char> whole = indexPickle(9, 1, {{9, used}});
    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(parseSimpleIndex({whole.data(), length})) << length;
    }
}

std::unique_ptr<BlockFileCache> openBlockCache(const fs::path& folder, BlockIndexProblem& problem) {
    auto cache = std::make_unique<BlockFileCache>(
        [folder](const std::string& name) -> std::unique_ptr<ByteSource> {
            if (!fs::is_regular_file(folder / name))
                return nullptr;
            return std::make_unique<MemoryBytes>(bytesOf(folder / name));
        });
    problem = cache->open();
    if (problem != BlockIndexProblem::None)
        return nullptr;
    return cache;
}

TEST(ChromiumBlockFile, EntriesKeysAndStreamsOfEverySize) {
    TempDir dir;
    std::vector<chromecache::Entry> entries = {
        entry("http://a.org/small.png", std::string(200, 's')),
        entry("http://a.org/k2/" + std::string(300, 'k'),
              std::string(3000, 'm')),  // key over two blocks
        entry("http://a.org/k4/" + std::string(900, 'k'), std::string(16000, 'l')),  // four blocks
        entry("http://a.org/long/" + std::string(3000, 'k'),
              std::string(40000, 'x')),  // long key, f_ file
        entry("http://a.org/ext.js", "tiny"),
    };
    entries.back().externalBody = true;
    chromecache::BlockFileOptions options;
    options.tableLength = 4;  // forces chains
    chromecache::writeBlockFileCache(dir.path(), entries, options);

    BlockIndexProblem problem;
    auto cache = openBlockCache(dir.path(), problem);
    ASSERT_TRUE(cache) << describe(problem);
    std::map<std::string, BlockFileCache::Entry> seen;
    cache->forEachEntry([&](const BlockFileCache::Entry& e) { seen[e.key] = e; },
                        [](const std::string& reason) { ADD_FAILURE() << reason; });
    ASSERT_EQ(seen.size(), entries.size());
    for (const chromecache::Entry& written : entries) {
        ASSERT_TRUE(seen.count(written.key)) << written.key.substr(0, 40);
        const BlockFileCache::Entry& read = seen[written.key];
        EXPECT_EQ(read.streams[1].size, written.body.size());
        std::vector<unsigned char> body;
        ASSERT_TRUE(cache->readStream(read.streams[1], 1 << 20, body));
        EXPECT_EQ(std::string(body.begin(), body.end()), written.body);
        std::vector<unsigned char> stream0;
        ASSERT_TRUE(cache->readStream(read.streams[0], 1 << 20, stream0));
        const auto info = parseResponseInfo(stream0);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->rawHeaders, written.head);
    }
    EXPECT_EQ(seen[entries[3].key].streams[1].file.substr(0, 2), "f_");
    EXPECT_EQ(seen[entries[4].key].streams[1].file.substr(0, 2), "f_");
    EXPECT_EQ(seen[entries[0].key].streams[1].file, "data_1");
    EXPECT_EQ(seen[entries[2].key].streams[1].file, "data_3");
}

TEST(ChromiumBlockFile, DamagedIndexesChainsAndAddresses) {
    using chromecache::Damage;
    BlockIndexProblem problem;
    {  // Index refused: wrong magic, unknown version, table not a power of two, table cut.
        for (int variant = 0; variant < 4; ++variant) {
            TempDir dir;
            chromecache::BlockFileOptions options;
            if (variant == 0)
                options.badIndexMagic = true;
            if (variant == 1)
                options.indexVersion = 0x40000;
            if (variant == 2)
                options.tableLength = 1000;
            chromecache::writeBlockFileCache(dir.path(), {entry("http://a.org/", "x")}, options);
            if (variant == 3)
                fs::resize_file(dir.path() / "index", 368 + 100);
            EXPECT_FALSE(openBlockCache(dir.path(), problem)) << variant;
        }
    }
    // A chain that loops ends; an address past its file, a key past its
    // blocks and a key length of -1 are skipped with a reason; a missing
    // data_1 skips every entry.
    TempDir dir;
    std::vector<chromecache::Entry> entries;
    for (Damage damage : {Damage::LoopChain, Damage::BodyPastFile, Damage::BadKeyLength,
                          Damage::BadMagic, Damage::None}) {
        entries.push_back(
            entry("http://a.org/" + std::to_string(entries.size()), std::string(500, 'd')));
        entries.back().damage = damage;
    }
    entries.push_back(entry("http://a.org/ext", std::string(30000, 'e')));
    entries.back().damage = Damage::BodyPastFile;  // external file cut short
    chromecache::BlockFileOptions options;
    options.tableLength = 1;  // one chain through every entry
    chromecache::writeBlockFileCache(dir.path(), entries, options);
    auto cache = openBlockCache(dir.path(), problem);
    ASSERT_TRUE(cache);
    int visited = 0, skipped = 0, unusableBodies = 0;
    cache->forEachEntry(
        [&](const BlockFileCache::Entry& e) {
            ++visited;
            if (!e.streams[1].usable)
                ++unusableBodies;
        },
        [&](const std::string&) { ++skipped; });
    // The chain starts at the last entry written; the looping one ends it.
    EXPECT_EQ(visited + skipped, 6);
    EXPECT_EQ(skipped, 2);         // bad key length, key length -1
    EXPECT_EQ(unusableBodies, 2);  // block address past data_1, external file cut

    TempDir missing;
    options.missingDataFiles = true;
    chromecache::writeBlockFileCache(missing.path(), {entry("http://a.org/", "x")}, options);
    cache = openBlockCache(missing.path(), problem);
    ASSERT_TRUE(cache);
    skipped = 0;
    cache->forEachEntry([](const BlockFileCache::Entry&) { ADD_FAILURE(); },
                        [&](const std::string&) { ++skipped; });
    EXPECT_EQ(skipped, 1);
}

TEST(ChromiumBlockFile, RandomDamageNeverLeavesTheFiles) {
    TempDir dir;
    std::vector<chromecache::Entry> entries;
    for (int i = 0; i < 40; ++i) {
        entries.push_back(
            entry("http://a.org/" + std::to_string(i), std::string(100 + 700 * i, 'x')));
    }
    chromecache::BlockFileOptions options;
    options.tableLength = 8;
    chromecache::writeBlockFileCache(dir.path(), entries, options);
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& item : fs::directory_iterator(dir.path())) {
        files[item.path().filename().string()] = bytesOf(item.path());
    }
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        auto damaged = files;
        for (int flips = 0; flips < 20; ++flips) {
            auto it = std::next(damaged.begin(), static_cast<long>(random() % damaged.size()));
            auto& bytes = it->second;
            // Mostly in the table and the entries, where addresses live.
            const std::size_t span = std::min<std::size_t>(bytes.size(), 8192 + 256 * 45);
            bytes[random() % span] = static_cast<unsigned char>(random());
        }
        BlockFileCache cache([&damaged](const std::string& name) -> std::unique_ptr<ByteSource> {
            auto found = damaged.find(name);
            if (found == damaged.end())
                return nullptr;
            return std::make_unique<MemoryBytes>(found->second);
        });
        if (cache.open() != BlockIndexProblem::None)
            continue;
        cache.forEachEntry(
            [&](const BlockFileCache::Entry& e) {
                for (const auto& stream : e.streams) {
                    if (!stream.usable || stream.size == 0)
                        continue;
                    ASSERT_TRUE(damaged.count(stream.file));
                    EXPECT_LE(stream.offset + stream.size, damaged[stream.file].size());
                }
            },
            [](const std::string&) {});
    }
}

}  // namespace
}  // namespace harvix::chromium
