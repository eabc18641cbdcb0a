// The cache2 entry file from its tail (every metadata version, key tags,
// damaged and half-written files), what a listing leaves out and why, the
// copy of encoded bodies, and finding the cache as Firefox resolves it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BodyEncoding.h"
#include "Cache2Writer.h"
#include "CacheWriter.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"
#include "readers/cache2/Cache2Entry.h"
#include "readers/cache2/Cache2Folder.h"
#include "readers/cache2/FirefoxCache2Reader.h"
#include "readers/cache2/FirefoxDiscovery.h"
#include "support/TestSupport.h"

namespace harvix {
namespace {

using cache2::TailStatus;
using mozcache::Cache2Entry;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

cache2::TailParse parseWhole(const std::string& file) {
    return cache2::parseEntryTail(bytesOf(file), file.size());
}

Cache2Entry httpEntry(const std::string& url, const std::string& body,
                      const std::string& head = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n",
                      uint32_t version = 4) {
    Cache2Entry entry;
    entry.key = "O^partitionKey=%28http%2C127.0.0.1%29,:" + url;
    entry.body = body;
    entry.version = version;
    entry.lastModified = 1765000000;
    entry.elements = mozcache::cache2HttpElements(head);
    entry.elements.emplace_back("net-response-time-onstop", "196");
    return entry;
}

TEST(Cache2Entry, EveryMetadataVersionGivesKeyHeadTimeAndLength) {
    // 600 000 bytes: three chunk hashes before the header.
    for (const std::size_t bodySize : {std::size_t{1}, std::size_t{600000}}) {
        for (uint32_t version = 1; version <= 4; ++version) {
            SCOPED_TRACE(version);
            const std::string file = mozcache::buildCache2File(
                httpEntry("http://127.0.0.1:8766/a.png", std::string(bodySize, 'x'),
                          "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                              std::to_string(bodySize) + "\r\n",
                          version));
            const auto parsed = parseWhole(file);
            ASSERT_EQ(parsed.status, TailStatus::Parsed);
            EXPECT_EQ(parsed.record.version, version);
            EXPECT_EQ(parsed.record.url, "http://127.0.0.1:8766/a.png");
            EXPECT_EQ(parsed.record.head.status, 200);
            EXPECT_EQ(parsed.record.head.contentType(), "image/png");
            EXPECT_EQ(parsed.record.lastModified, 1765000000u);
            EXPECT_EQ(parsed.record.bodyLength, bodySize);
            EXPECT_FALSE(cache2::reasonToLeaveOut(parsed.record));
            // Read from a short tail first, as the listing does.
            const std::string tail = file.substr(file.size() - 16);
            const auto first = cache2::parseEntryTail(bytesOf(tail), file.size());
            ASSERT_EQ(first.status, TailStatus::NeedLongerTail);
            EXPECT_EQ(first.neededTail, file.size() - bodySize);
            const std::string longer = file.substr(file.size() - first.neededTail);
            EXPECT_EQ(cache2::parseEntryTail(bytesOf(longer), file.size()).status,
                      TailStatus::Parsed);
        }
    }
    Cache2Entry unknown = httpEntry("http://h/x", "body");
    unknown.version = 5;
    EXPECT_EQ(parseWhole(mozcache::buildCache2File(unknown)).status, TailStatus::UnknownVersion);
}

TEST(Cache2Entry, UrlFollowsTheTagsAsFirefoxParsesThem) {
    const auto url = [](const std::string& key) {
        return cache2::urlOfKey(key).value_or("<none>");
    };
    EXPECT_EQ(url(":http://a.org/x"), "http://a.org/x");
    EXPECT_EQ(url("a,:https://a.org/x?b=1,2"), "https://a.org/x?b=1,2");
    EXPECT_EQ(url("O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1:8766/style.css"),
              "http://127.0.0.1:8766/style.css");
    EXPECT_EQ(url("O^userContextId=1,a,p,~1700000000,:http://h/"), "http://h/");
    EXPECT_EQ(url("O^x=,,:y,,,a,:http://h/"), "http://h/");  // ",," is an escaped comma
    EXPECT_EQ(url("a,i12,:http://h/"), "http://h/");
    EXPECT_EQ(url("a,O^x,:http://h/"), "<none>");  // tags out of order
    EXPECT_EQ(url("a:http://h/"), "<none>");       // tag without its comma
    EXPECT_EQ(url("ix,:http://h/"), "<none>");
    EXPECT_EQ(url("O^unterminated"), "<none>");
    EXPECT_EQ(url(std::string("\x01,:http://h/", 12)), "<none>");
    EXPECT_EQ(url(""), "<none>");
    EXPECT_EQ(url(":"), "");
}

TEST(Cache2Entry, HalfWrittenOrDamagedFilesAreUnreadableNeverOutOfBounds) {
    const Cache2Entry sound = httpEntry("http://h/x.png", std::string(3000, 'b'));
    const std::string file = mozcache::buildCache2File(sound);
    ASSERT_EQ(parseWhole(file).status, TailStatus::Parsed);

    // Each is Unreadable under the reason a listing counts it by.
    auto variant = [&](auto change) {
        Cache2Entry entry = sound;
        change(entry);
        const auto parsed = parseWhole(mozcache::buildCache2File(entry));
        return parsed.status == TailStatus::Unreadable ? std::string(parsed.reason) : "parsed";
    };
    EXPECT_EQ(variant([](Cache2Entry& e) { e.wrongHash = true; }), cache2::kReasonBadHash);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.offsetWord = 0xFFFFFFF0u; }),
              cache2::kReasonBadOffset);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.offsetWord = 0; }), cache2::kReasonBadOffset);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.keySizeWord = 1u << 20; }), cache2::kReasonBadKeySize);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.keySizeWord = uint32_t(e.key.size() - 1); }),
              cache2::kReasonKeyWithoutNul);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.elements.emplace_back(std::string("a\0b", 3), "c"); }),
              cache2::kReasonElementsWithoutNul);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.altDataInfo = "2;10,x"; }), cache2::kReasonBadAltData);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.altDataInfo = "1;3001,x"; }),
              cache2::kReasonBadAltData);
    EXPECT_EQ(variant([](Cache2Entry& e) { e.altDataInfo = "1;;x"; }), cache2::kReasonBadAltData);
    // A file cut anywhere (Firefox still writing it), and every single byte of
    // the tail changed: never read outside the bytes, never Parsed with a
    // body length past the file.
    for (std::size_t cut = 1; cut < file.size() - 2990; ++cut) {
        const std::string shorter = file.substr(0, file.size() - cut);
        const auto parsed = parseWhole(shorter);
        EXPECT_NE(parsed.status, TailStatus::Parsed) << cut;
    }
    for (std::size_t at = 3000; at < file.size(); ++at) {
        std::string damaged = file;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x21);
        const auto parsed = parseWhole(damaged);
        if (parsed.status == TailStatus::Parsed) {
            EXPECT_LE(parsed.record.bodyLength, damaged.size()) << at;
        }
    }
    EXPECT_EQ(parseWhole("").status, TailStatus::Unreadable);
    EXPECT_EQ(parseWhole(std::string("\0\0\0\0", 4)).status, TailStatus::Unreadable);
}

TEST(Cache2Entry, LeftOutWithTheirReasons) {
    const auto reason = [](const Cache2Entry& entry) {
        const auto parsed = parseWhole(mozcache::buildCache2File(entry));
        EXPECT_EQ(parsed.status, TailStatus::Parsed);
        return cache2::reasonToLeaveOut(parsed.record).value_or("listed");
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\n";
    EXPECT_EQ(reason(httpEntry("http://h/a", "x", "HTTP/1.1 203 Non-Authoritative\r\n")), "listed");
    EXPECT_EQ(reason(httpEntry("HTTPS://h/a", "x", ok)), "listed");
    EXPECT_EQ(reason(httpEntry("http://h/a", "x", "HTTP/1.1 206 Partial Content\r\n")),
              cache2::kReasonPartial);
    // Media fetched in ranges: the whole resource from its first byte is
    // kept; fewer bytes are incomplete; a range that does not start at 0,
    // an unknown or malformed total, or more bytes than it are not media.
    const auto ranged = [](const std::string& range) {
        return "HTTP/1.1 206 Partial Content\r\nContent-Range: " + range + "\r\n";
    };
    EXPECT_EQ(reason(httpEntry("http://h/a", "12345", ranged("bytes 0-1/5"))), "listed");
    EXPECT_EQ(reason(httpEntry("http://h/a", "12345", ranged("BYTES  0-4 / 5"))), "listed");
    EXPECT_EQ(reason(httpEntry("http://h/a", "123", ranged("bytes 0-4/5"))),
              cache2::kReasonIncompleteMedia);
    for (const char* odd : {"bytes 0-4/*", "bytes 2-4/5", "bytes 0-4/4", "bytes 4-2/5",
                            "bytes 0-4/99999999999999999999", "items 0-4/5", "bytes 0-x/5"}) {
        EXPECT_EQ(reason(httpEntry("http://h/a", "12345", ranged(odd))), cache2::kReasonPartial)
            << odd;
    }
    EXPECT_EQ(reason(httpEntry("http://h/a", "123456", ranged("bytes 0-4/5"))),
              cache2::kReasonPartial);
    EXPECT_EQ(reason(httpEntry("http://h/a", "", "HTTP/1.1 301 Moved\r\nLocation: /b\r\n")),
              cache2::kReasonRedirect);
    EXPECT_EQ(reason(httpEntry("http://h/a", "nf", "HTTP/1.1 404 Not Found\r\n")),
              cache2::kReasonStatus);
    EXPECT_EQ(reason(httpEntry("http://h/a", "x", "")), cache2::kReasonStatus);
    EXPECT_EQ(reason(httpEntry("http://h/a", "", ok)), cache2::kReasonEmpty);
    EXPECT_EQ(reason(httpEntry("http://h/a", "12345", ok + "Content-Length: 6\r\n")),
              cache2::kReasonInterrupted);
    EXPECT_EQ(reason(httpEntry("ftp://h/a", "x", ok)), cache2::kReasonNotHttp);
    Cache2Entry predictor = httpEntry("", "x", ok);
    predictor.key = "predictor-origin:http://h/";  // not a key Firefox's parser takes
    EXPECT_EQ(reason(predictor), cache2::kReasonNotHttp);

    // Compiled script after the body: only the body is the resource, and the
    // Content-Length is compared with it.
    Cache2Entry script = httpEntry("http://h/s.js", "var a;", ok + "Content-Length: 6\r\n");
    script.altData = std::string(5000, 'Z');
    const auto parsed = parseWhole(mozcache::buildCache2File(script));
    ASSERT_EQ(parsed.status, TailStatus::Parsed);
    EXPECT_TRUE(parsed.record.hasAltData);
    EXPECT_EQ(parsed.record.bodyLength, 6u);
    EXPECT_EQ(parsed.record.metaOffset, 5006u);
    EXPECT_FALSE(cache2::reasonToLeaveOut(parsed.record));
}

TEST(Cache2Folder, ListsEntriesOnlyAndCopiesDecodedBodies) {
    TempDir dir;
    const fs::path cache2 = dir / "cache2";
    const std::string script(20000, ';');
    auto encoded = [&](const std::string& url, const std::string& coding) {
        Cache2Entry entry =
            httpEntry(url, mozcache::encodeBody(coding, script),
                      "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Encoding: " +
                          mozcache::contentEncodingValue(coding) + "\r\n");
        return entry;
    };
    mozcache::writeCache2Entry(cache2, encoded("http://h/g.js", "gzip"));
    mozcache::writeCache2Entry(cache2, encoded("http://h/b.js", "br"));
    mozcache::writeCache2Entry(cache2, encoded("http://h/z.js", "zstd"));
    Cache2Entry cut = encoded("http://h/cut.js", "gzip");
    cut.body.resize(cut.body.size() / 2);  // stored stream stops early, lengths agree
    mozcache::writeCache2Entry(cache2, cut);
    mozcache::writeCache2Entry(cache2, httpEntry("http://h/doomed", "d"), "doomed");
    mozcache::writeCache2Entry(cache2, httpEntry("http://h/trash", "t"), "trash1234");
    mozcache::writeCache2Entry(cache2, httpEntry("http://h/206", "p", "HTTP/1.1 206 P\r\n"));
    Cache2Entry writing = httpEntry("http://h/writing", "w");
    writing.cutBytes = 3;
    mozcache::writeCache2Entry(cache2, writing);
    writeFile(cache2 / "entries" / "index", "not an entry");
    const std::string outside = mozcache::buildCache2File(httpEntry("http://h/outside", "o"));
    writeFile(dir / "outside", outside);
    fs::create_symlink(dir / "outside", cache2 / "entries" / std::string(40, 'A'));
    ASSERT_EQ(::mkfifo((cache2 / "entries" / std::string(40, 'B')).c_str(), 0600), 0);

    std::vector<cache2::ListedEntry> listed;
    cache2::ListingCounts counts;
    ASSERT_FALSE(cache2::listEntries(
                     cache2, cache2 / "entries",
                     [&](cache2::ListedEntry&& e) { listed.push_back(std::move(e)); }, counts)
                     .has_value());
    std::set<std::string> urls;
    for (const auto& entry : listed) {
        urls.insert(entry.url);
    }
    EXPECT_EQ(urls, (std::set<std::string>{"http://h/g.js", "http://h/b.js", "http://h/z.js",
                                           "http://h/cut.js"}));
    // Every other file named like an entry is counted: the link and the
    // FIFO (never opened) and the half-written file; Firefox's index is none.
    EXPECT_EQ(counts.leftOut, (std::map<std::string, uint64_t>{{cache2::kReasonPartial, 1},
                                                               {cache2::kReasonNotRegularFile, 2},
                                                               {cache2::kReasonBadOffset, 1}}));
    // A folder that cannot be listed is a failure with the system's reason.
    const std::optional<ErrorReport> gone = cache2::listEntries(
        cache2, cache2 / "gone", [](cache2::ListedEntry&&) {}, counts);
    ASSERT_TRUE(gone.has_value());
    EXPECT_EQ(gone->systemError(), ENOENT);
    EXPECT_EQ(gone->path(), pathToUtf8(cache2 / "gone"));

    // The listed bodies through the core's copy: decoded as sent, and a
    // stream that stops early is a failed copy, not a short file.
    FirefoxCache2Reader reader(cache2);
    reader.open();
    std::vector<std::unique_ptr<CacheEntry>> entries;
    SkipCounts skipped;
    reader.readEntries(entries, skipped);
    ASSERT_EQ(entries.size(), listed.size());
    int copied = 0;
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry->url);
        const fs::path copy = dir / ("copy" + std::to_string(copied++));
        if (entry->url == "http://h/cut.js") {
            EXPECT_THROW(copyBodyToFile(reader, *entry, copy), ErrorReport);
            EXPECT_FALSE(fs::exists(copy));
        } else {
            copyBodyToFile(reader, *entry, copy);
            EXPECT_TRUE(readFile(copy) == script);
        }
    }
    // An entry that shrank after it was listed: its copy fails, leaving nothing.
    const CacheEntry& first = *entries.front();
    const fs::path firstFile = reader.root() / "entries" / first.dataFile;
    writeFile(firstFile, readFile(firstFile).substr(0, 10));
    EXPECT_THROW(copyBodyToFile(reader, first, dir / "shrunk"), ErrorReport);
    EXPECT_FALSE(fs::exists(dir / "shrunk"));
}

TEST(FirefoxCache2Reader, EntriesSkipsAndBodySourcesForTheCoresCopy) {
    TempDir dir;
    const fs::path cache2 = dir / "cache2";
    const std::string page(5000, 'p');
    Cache2Entry encoded = httpEntry("http://h/p\xE9.html", mozcache::encodeBody("br", page),
                                    "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML\r\n"
                                    "Content-Encoding: br\r\n");
    encoded.altData = std::string(100, 'Z');
    const fs::path file = mozcache::writeCache2Entry(cache2, encoded);
    mozcache::writeCache2Entry(cache2, httpEntry("http://h/r", "", "HTTP/1.1 302 Found\r\n"));
    mozcache::writeCache2Entry(cache2, httpEntry("http://h/e", "", "HTTP/1.1 200 OK\r\n"));

    FirefoxCache2Reader reader(cache2);
    reader.open();
    std::vector<std::unique_ptr<CacheEntry>> entries;
    SkipCounts skipped;
    reader.readEntries(entries, skipped);
    ASSERT_EQ(entries.size(), 1u);
    const CacheEntry& entry = *entries.front();
    EXPECT_EQ(entry.url, "http://h/p\xC3\xA9.html");  // widened as Windows-1252
    EXPECT_EQ(entry.dataFile, file.filename().string());
    EXPECT_EQ(entry.size, encoded.body.size());
    EXPECT_EQ(skipped.byReason, (std::map<std::string, uint64_t>{{cache2::kReasonRedirect, 1},
                                                                 {cache2::kReasonEmpty, 1}}));
    const BodySource source = reader.bodySource(entry);
    EXPECT_EQ(source.file, reader.root() / "entries" / file.filename());
    EXPECT_EQ(source.offset, 0u);
    EXPECT_EQ(source.length, encoded.body.size());
    EXPECT_EQ(source.encoding, ContentEncoding::Brotli);
    EXPECT_NE(reader.responseHead(entry).find("Content-Encoding: br"), std::string::npos);
    copyBodyToFile(reader, entry, dir / "copy.html");
    EXPECT_TRUE(readFile(dir / "copy.html") == page);

    FirefoxCache2Reader missing(dir / "nothing" / "cache2");
    EXPECT_THROW(missing.open(), ErrorReport);
}

std::string profilesIni(const std::string& extra) {
    return "[Profile1]\nName=default\nIsRelative=1\nPath=aaaa.default\nDefault=1\n\n"
           "[Profile0]\nName=default-esr\nIsRelative=1\nPath=bbbb.default-esr\n\n"
           "[General]\nStartWithLastProfile=1\nVersion=2\n" +
           extra;
}

TEST(FirefoxDiscovery, ProfileInUseAsFirefoxChoosesIt) {
    EXPECT_EQ(defaultProfileOf(profilesIni("[Install3B6073811A6ABF12]\r\nDefault=bbbb.default-esr"
                                           "\r\nLocked=1\r\n"))
                  ->path,
              "bbbb.default-esr");
    EXPECT_EQ(defaultProfileOf(profilesIni(""))->path, "aaaa.default");  // Default=1
    const auto first =
        defaultProfileOf("[Profile1]\nPath=second\n[Profile0]\nPath=/abs/first\nIsRelative=0\n");
    EXPECT_EQ(first->path, "/abs/first");  // lowest number first
    EXPECT_FALSE(first->relative);
    EXPECT_FALSE(defaultProfileOf("[General]\nVersion=2\n"));
    EXPECT_FALSE(defaultProfileOf(""));
}

TEST(FirefoxDiscovery, FindsTheCacheInEveryPlaceFirefoxKeepsIt) {
    TempDir dir;
    FirefoxPlaces places{dir / "home", dir / "config", dir / "cache"};
    const auto makeCache2 = [](const fs::path& local) {
        fs::create_directories(local / "cache2" / "entries");
    };
    EXPECT_EQ(findFirefoxCache(places).format, FirefoxCacheFormat::None);

    // No profiles.ini: the first profile folder below the cache base.
    makeCache2(dir / "cache" / "mozilla" / "firefox" / "zzzz.other");
    EXPECT_EQ(findFirefoxCache(places).folder,
              dir / "cache" / "mozilla" / "firefox" / "zzzz.other" / "cache2");
    // An old profile with only the old format.
    fs::create_directories(dir / "cache" / "mozilla" / "firefox" / "aaaa.old" / "Cache");
    writeFile(dir / "cache" / "mozilla" / "firefox" / "aaaa.old" / "Cache" / "_CACHE_MAP_", "m");
    EXPECT_EQ(findFirefoxCache(places).format, FirefoxCacheFormat::OldCache);

    // The older place of profiles.ini, then the newer one wins.
    writeFile(dir / "home" / ".mozilla" / "firefox" / "profiles.ini", profilesIni(""));
    makeCache2(dir / "cache" / "mozilla" / "firefox" / "aaaa.default");
    EXPECT_EQ(findFirefoxCache(places).folder,
              dir / "cache" / "mozilla" / "firefox" / "aaaa.default" / "cache2");
    writeFile(dir / "config" / "mozilla" / "firefox" / "profiles.ini",
              profilesIni("[Install1]\nDefault=bbbb.default-esr\n"));
    makeCache2(dir / "cache" / "mozilla" / "firefox" / "bbbb.default-esr");
    EXPECT_EQ(findFirefoxCache(places).folder,
              dir / "cache" / "mozilla" / "firefox" / "bbbb.default-esr" / "cache2");

    // An absolute profile keeps its cache in the profile folder.
    writeFile(dir / "config" / "mozilla" / "firefox" / "profiles.ini",
              "[Profile0]\nIsRelative=0\nPath=" + (dir / "elsewhere").string() + "\n");
    makeCache2(dir / "elsewhere");
    EXPECT_EQ(findFirefoxCache(places).folder, dir / "elsewhere" / "cache2");

    // Snap and Flatpak.
    for (const std::string& sandbox :
         {std::string("snap/firefox/common"), std::string(".var/app/org.mozilla.firefox")}) {
        TempDir other;
        FirefoxPlaces boxed{other / "home", other / "config", other / "cache"};
        const fs::path root = other / "home" / sandbox;
        const fs::path cacheBase = sandbox[0] == 's' ? root / ".cache" / "mozilla" / "firefox"
                                                     : root / "cache" / "mozilla" / "firefox";
        writeFile(root / ".mozilla" / "firefox" / "profiles.ini", profilesIni(""));
        makeCache2(cacheBase / "aaaa.default");
        EXPECT_EQ(findFirefoxCache(boxed).folder, cacheBase / "aaaa.default" / "cache2") << sandbox;
    }
}

TEST(FirefoxDiscovery, AGivenFolderOfEitherFormat) {
    TempDir dir;
    const fs::path local = dir / "abcd.default-esr";
    fs::create_directories(local / "cache2" / "entries");
    fs::create_directories(dir / "Cache");
    writeFile(dir / "Cache" / "_CACHE_MAP_", "map");
    for (const fs::path& given : {local, local / "cache2", local / "cache2" / "entries"}) {
        const auto found = classifyFirefoxFolder(given);
        EXPECT_EQ(found.format, FirefoxCacheFormat::Cache2) << given;
        EXPECT_EQ(found.folder, local / "cache2") << given;
    }
    EXPECT_EQ(classifyFirefoxFolder(dir / "Cache").format, FirefoxCacheFormat::OldCache);
    EXPECT_EQ(classifyFirefoxFolder(dir.path()).format, FirefoxCacheFormat::OldCache);
    EXPECT_EQ(classifyFirefoxFolder(dir / "missing").format, FirefoxCacheFormat::None);
    EXPECT_EQ(classifyFirefoxFolder(local / "cache2" / "entries" / "x").format,
              FirefoxCacheFormat::None);
}

// ---- Real setups: what real machines and real Firefox files hold ----

// Values of entries Firefox ESR 153 wrote for a loopback page: a style
// sheet's key, file name and chunk hash, and a whole entry of metadata only.
// The writer keeps its own copy of both hashes, so they are checked against
// Firefox rather than against each other.
TEST(FirefoxRealSetups, HashesAgreeWithEntriesFirefoxWrote) {
    const std::string key = "O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1:8766/k.css";
    EXPECT_EQ(mozcache::cache2FileName(key), "675B617F64B8896A40E8245905A92F95B4AE3DE8");
    const std::string body = "body { color: red; }\n";  // its one chunk hash: 82 EC
    EXPECT_EQ(cache2::cacheHash(bytesOf(body)) & 0xFFFFu, 0x82ECu);
    EXPECT_EQ(mozcache::cache2Hash(body) & 0xFFFFu, 0x82ECu);

    const std::string file(
        "\x2C\xE3\x4B\x1E"  // hash
        "\0\0\0\x04"
        "\0\0\0\x01"
        "\x6B\x18\x23\x1E"
        "\x6B\x18\x23\x1B"  // version .. modified
        "\x4A\x3B\x6B\x0E"
        "\xFF\xFF\xFF\xFF"
        "\0\0\0\x0B"
        "\0\0\0\0"       // .. key size, flags
        ":about:home\0"  // key
        "\0\0\0\x04"
        "\0\0\0\0",  // trailer, offset
        56);
    EXPECT_EQ(cache2::cacheHash(bytesOf(file.substr(4, 44))), 0x2CE34B1Eu);
    EXPECT_EQ(mozcache::cache2Hash(file.substr(4, 44)), 0x2CE34B1Eu);
    const auto parsed = parseWhole(file);
    ASSERT_EQ(parsed.status, TailStatus::Parsed);
    EXPECT_EQ(parsed.record.key, ":about:home");
    EXPECT_EQ(parsed.record.lastModified, 0x6B18231Bu);
    EXPECT_EQ(mozcache::cache2FileName(parsed.record.key),
              "D0F48A0632B6C451791F4257697E861961F06A6F");
}

// The folders a user names or discovery finds: each reads the one cache, and
// the cache folder no copy may go into is the whole cache2 folder.
TEST(FirefoxRealSetups, EveryWayToNameACache2FolderReadsTheWholeOfIt) {
    TempDir dir;
    const auto fill = [](const fs::path& cache2) {
        mozcache::Cache2Entry png = httpEntry("http://h/a.png", "png");
        png.lastFetched = 1700000500;
        png.expiration = 1800000000;
        mozcache::writeCache2Entry(cache2, png);
        mozcache::writeCache2Entry(cache2, httpEntry("http://h/doomed", "d"), "doomed");
    };
    const fs::path profile = dir / "p.default";
    fill(profile / "cache2");
    fill(dir / "copy");  // a cache2 folder under another name
    const fs::path loose = dir / "loose";
    fs::create_directories(loose);
    fs::copy(profile / "cache2" / "entries", loose);
    fs::create_directory_symlink(profile / "cache2", dir / "moved");  // a cache on another disk

    const fs::path cache2 = resolveFolder(profile / "cache2");
    for (const auto& [given, whole] : std::vector<std::pair<fs::path, fs::path>>{
             {profile, cache2},
             {profile / "cache2", cache2},
             {profile / "cache2" / "entries", cache2},
             {profile / "cache2" / "entries/", cache2},
             {dir / "moved", cache2},
             {dir / "copy", resolveFolder(dir / "copy")},
             {dir / "copy" / "entries", resolveFolder(dir / "copy" / "entries")},
             {loose, resolveFolder(loose)}}) {
        SCOPED_TRACE(given);
        FakePlatform platform;
        std::unique_ptr<CacheReader> reader =
            browserByWord("firefox")->readerAt(platform, given.string());
        const std::optional<ErrorReport> failed = openCache(*reader);
        ASSERT_FALSE(failed) << failed->what();
        const Reading reading = readCache(*reader);
        ASSERT_EQ(reading.entries.size(), 1u);
        const CacheEntry& png = *reading.entries.front();
        EXPECT_EQ(png.url, "http://h/a.png");
        EXPECT_EQ(reader->cacheFolders(), std::vector<fs::path>{whole});
        // The times of the entry's metadata: stored (last modified), last fetched, expiry.
        EXPECT_EQ(png.status, 200);
        EXPECT_EQ(png.responseTime, 1765000000);
        EXPECT_EQ(png.lastUsed, 1700000500);
        EXPECT_EQ(png.expires, 1800000000);
    }
    EXPECT_EQ(classifyFirefoxFolder(dir / "nothing").format, FirefoxCacheFormat::None);
    EXPECT_EQ(classifyFirefoxFolder(dir.path()).format, FirefoxCacheFormat::None);
}

// A link planted inside a profile or a cache2 folder (cache2 -> elsewhere,
// entries -> elsewhere, Cache -> elsewhere) is never followed, however the
// cache is reached; the open says which link it refused.
TEST(FirefoxRealSetups, ALinkInsideAProfileOrACacheIsRefused) {
    TempDir dir;
    const fs::path outside = dir / "outside";
    mozcache::writeCache2Entry(outside, httpEntry("http://secret/", "s"));
    { mozcache::CacheWriter writer(dir / "oldOutside"); }
    const fs::path linkedCache2 = dir / "a.default";
    fs::create_directories(linkedCache2);
    fs::create_directory_symlink(outside, linkedCache2 / "cache2");
    const fs::path linkedEntries = dir / "b.default";
    fs::create_directories(linkedEntries / "cache2");
    fs::create_directory_symlink(outside / "entries", linkedEntries / "cache2" / "entries");
    const fs::path linkedOld = dir / "c.default";
    fs::create_directories(linkedOld);
    fs::create_directory_symlink(dir / "oldOutside", linkedOld / "Cache");

    for (const auto& [given, link] : std::vector<std::pair<fs::path, fs::path>>{
             {linkedCache2, linkedCache2 / "cache2"},
             {linkedEntries, linkedEntries / "cache2" / "entries"},
             {linkedEntries / "cache2", linkedEntries / "cache2" / "entries"},
             {linkedEntries / "cache2" / "entries", linkedEntries / "cache2" / "entries"},
             {linkedOld, linkedOld / "Cache"}}) {
        SCOPED_TRACE(given);
        FakePlatform platform;
        std::unique_ptr<CacheReader> reader =
            browserByWord("firefox")->readerAt(platform, given.string());
        const std::optional<ErrorReport> failed = openCache(*reader);
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->kind(), ErrorReport::CacheOpen);
        EXPECT_EQ(failed->systemError(), ELOOP);
        EXPECT_EQ(failed->secondPath(), link.string());
        EXPECT_TRUE(readCache(*reader).entries.empty());
    }

    // Discovery: the profile in use is found and refused; the cache window
    // does not offer it.
    FirefoxPlaces places{dir / "home", dir / "config", dir / "cache"};
    const fs::path base = dir / "cache" / "mozilla" / "firefox";
    fs::create_directories(base);
    fs::create_directory_symlink(linkedCache2, base / "a.default");
    writeFile(dir / "config" / "mozilla" / "firefox" / "profiles.ini",
              "[Profile0]\nName=in use\nPath=a.default\nDefault=1\n");
    const FirefoxCacheFolder found = findFirefoxCache(places);
    EXPECT_EQ(found.folder, base / "a.default" / "cache2");
    FirefoxCache2Reader discovered(found);
    EXPECT_THROW(discovered.open(), ErrorReport);
    EXPECT_TRUE(firefoxProfileCaches(places).empty());
}

// An entries folder the user may not list is a cache that cannot be opened,
// never an empty one nor an abort while reading.
TEST(FirefoxRealSetups, AnEntriesFolderThatCannotBeListedDoesNotOpen) {
    TempDir dir;
    mozcache::writeCache2Entry(dir / "cache2", httpEntry("http://h/a", "a"));
    fs::permissions(dir / "cache2" / "entries", fs::perms::none);
    FirefoxCache2Reader reader(dir / "cache2");
    const bool ran = runUnderFilePermissions([&] {
        const std::optional<ErrorReport> failed = openCache(reader);
        ASSERT_TRUE(failed.has_value());
        EXPECT_EQ(failed->systemError(), EACCES);
        EXPECT_EQ(failed->secondPath(), (dir / "cache2" / "entries").string());
        EXPECT_NO_THROW(readCache(reader));
    });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace harvix
