// harvix-cli export --warc and the site's folder tree of save and comb:
// archives parsed back record by record with their digests checked, and
// hostile URLs that must place nothing outside the folder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <set>
#include <sstream>

#include "BodyEncoding.h"
#include "Cache2Writer.h"
#include "ChromeCacheWriter.h"
#include "cli/CombTestFixture.h"
#include "filter/FilterTestSupport.h"
#include "filter/SiteTree.h"
#include "filter/WarcExport.h"
#include "platform/FileHandle.h"

namespace harvix {

namespace {

// Every gzip member of `bytes`, inflated on its own.
std::vector<std::string> gzipMembers(const std::string& bytes) {
    std::vector<std::string> members;
    std::size_t at = 0;
    while (at < bytes.size()) {
        z_stream z{};
        EXPECT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + at));
        z.avail_in = static_cast<uInt>(bytes.size() - at);
        std::string out;
        int status = Z_OK;
        while (status == Z_OK) {
            char buffer[4096];
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            status = inflate(&z, Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - z.avail_out);
        }
        EXPECT_EQ(status, Z_STREAM_END) << "member at " << at;
        at = bytes.size() - z.avail_in;
        inflateEnd(&z);
        members.push_back(out);
        if (status != Z_STREAM_END) {
            break;
        }
    }
    return members;
}

struct WarcRecord {
    std::map<std::string, std::string> fields;
    std::string block;
};

// Reads records off the front of `text`, checking the layout: version line,
// fields, blank line, a block of Content-Length bytes, two CR LF.
std::vector<WarcRecord> parseRecords(std::string text) {
    std::vector<WarcRecord> records;
    while (!text.empty()) {
        WarcRecord record;
        const std::size_t headEnd = text.find("\r\n\r\n");
        EXPECT_EQ(text.rfind("WARC/1.1\r\n", 0), 0u);
        if (headEnd == std::string::npos) {
            ADD_FAILURE() << "no end of the record's head";
            break;
        }
        std::size_t line = text.find("\r\n") + 2;
        while (line < headEnd + 2) {
            const std::size_t end = text.find("\r\n", line);
            const std::string field = text.substr(line, end - line);
            const std::size_t colon = field.find(": ");
            record.fields[field.substr(0, colon)] = field.substr(colon + 2);
            line = end + 2;
        }
        const std::size_t length = std::stoul(record.fields["Content-Length"]);
        record.block = text.substr(headEnd + 4, length);
        EXPECT_EQ(text.substr(headEnd + 4 + length, 4), "\r\n\r\n");
        text.erase(0, std::min(text.size(), headEnd + 8 + length));
        records.push_back(std::move(record));
    }
    return records;
}

// The payload of a response block: the body after the HTTP head, its chunks
// undone when the head says it is chunked.
std::string payloadOf(const std::string& block) {
    const std::size_t headEnd = block.find("\r\n\r\n");
    std::string body = block.substr(headEnd + 4);
    if (block.substr(0, headEnd).find("Transfer-Encoding: chunked") == std::string::npos) {
        return body;
    }
    std::string payload;
    for (;;) {
        const std::size_t lineEnd = body.find("\r\n");
        const std::size_t size = std::stoul(body.substr(0, lineEnd), nullptr, 16);
        if (size == 0) {
            EXPECT_EQ(body.substr(lineEnd), "\r\n\r\n");
            return payload;
        }
        payload += body.substr(lineEnd + 2, size);
        EXPECT_EQ(body.substr(lineEnd + 2 + size, 2), "\r\n");
        body.erase(0, lineEnd + 4 + size);
    }
}

}  // namespace

class ExportCommandTest : public CliCacheTest {
protected:
    static mozcache::Cache2Entry Cache2(const std::string& url, const std::string& body,
                                        const std::string& headLines) {
        mozcache::Cache2Entry entry;
        entry.key = ":" + url;
        entry.body = body;
        entry.lastFetched = 1700000000;
        entry.elements = mozcache::cache2HttpElements("HTTP/1.1 200 OK\r\n" + headLines);
        return entry;
    }
};

TEST_F(ExportCommandTest, ArchivesOfBothFormatsHoldEveryResponseWithDigestsThatVerify) {
    // Stored bytes as sent: a gzip body stays gzip, a chunked one is stored
    // without its chunks, a binary one holds CR LF and NUL.
    const std::string gzipped = std::string("\x1f\x8b\x08\x00", 4) + "not really inflated";
    const std::string binary = std::string("\x89PNG\r\n\x1a\n\0\0\r\n", 12);
    const fs::path cache2 = dir_ / "ff" / "cache2";
    mozcache::writeCache2Entry(cache2, Cache2("http://a.org/page.html", gzipped,
                                              "Content-Type: text/html\r\nContent-Encoding: "
                                              "gzip\r\n"));
    mozcache::writeCache2Entry(cache2, Cache2("http://a.org/feed?x=1 y", "chunky body",
                                              "Content-Type: text/plain\r\nTransfer-Encoding: "
                                              "chunked\r\n"));
    mozcache::writeCache2Entry(cache2,
                               Cache2("http://a.org/p.png", binary, "Content-Type: image/png\r\n"));
    std::vector<chromecache::Entry> chrome(1);
    chrome[0].key = chromecache::splitCacheKey("https://b.org/c.js");
    chrome[0].head = chromecache::rawHead(200, {"Content-Type: text/javascript"});
    chrome[0].body = "var x = 1;";
    chrome[0].responseTime = 1600000000;
    chromecache::writeSimpleCache(dir_ / "chrome" / "Cache_Data", chrome);
    // The old disk cache keeps the head in the record's metadata, and the
    // body as sent.
    mozcache::CacheWriter(dir_ / "old" / "Cache")
        .add(Http("http://o.org/old.css", "p { }", "text/css", 1300000000));

    struct Case {
        std::string browser;
        fs::path cache;
        std::string file;
        std::map<std::string, std::string> bodies;  // by target URI
    };
    const std::vector<Case> cases{
        {"firefox",
         dir_ / "ff",
         "ff.warc.gz",
         {{"http://a.org/page.html", gzipped},
          {"http://a.org/feed?x=1%20y", "chunky body"},
          {"http://a.org/p.png", binary}}},
        {"firefox", dir_ / "ff", "ff.warc", {}},
        {"chrome",
         dir_ / "chrome" / "Cache_Data",
         "c.warc.gz",
         {{"https://b.org/c.js", "var x = 1;"}}},
        {"firefox", dir_ / "old" / "Cache", "old.warc", {{"http://o.org/old.css", "p { }"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path out = dir_ / c.file;
        const Result result =
            run({"export", c.browser, "--cache", c.cache.string(), "--warc", out.string()});
        ASSERT_EQ(result.code, 0) << result.err;
        EXPECT_EQ(result.out, out.string() + "\n");
        const std::string bytes = readFile(out);
        const bool plain = c.file.ends_with(".warc");
        EXPECT_EQ(bytes.rfind("WARC/1.1", 0) == 0, plain);
        const std::vector<std::string> members =
            plain ? std::vector<std::string>{bytes} : gzipMembers(bytes);
        std::string all;
        for (const std::string& member : members) {
            all += member;
            if (!plain) {
                EXPECT_EQ(parseRecords(member).size(), 1u);  // one record per member
            }
        }
        const std::vector<WarcRecord> records = parseRecords(all);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].fields.at("WARC-Type"), "warcinfo");
        const std::map<std::string, std::string>& expected =
            c.bodies.empty() ? cases[0].bodies : c.bodies;
        ASSERT_EQ(records.size(), expected.size() + 1);
        for (std::size_t i = 1; i < records.size(); ++i) {
            const WarcRecord& record = records[i];
            const std::string uri = record.fields.at("WARC-Target-URI");
            SCOPED_TRACE(uri);
            EXPECT_EQ(record.fields.at("WARC-Type"), "response");
            EXPECT_EQ(record.fields.at("WARC-Warcinfo-ID"), records[0].fields.at("WARC-Record-ID"));
            EXPECT_EQ(record.fields.at("WARC-Date"), c.browser == "chrome" ? "2020-09-13T12:26:40Z"
                                                     : c.file == "old.warc"
                                                         ? "2011-03-13T07:06:40Z"
                                                         : "2023-11-14T22:13:20Z");
            EXPECT_EQ(record.fields.at("WARC-Block-Digest"), warcSha1(record.block));
            EXPECT_EQ(record.block.rfind("HTTP/1.1 200", 0), 0u);
            ASSERT_EQ(expected.count(uri), 1u);
            EXPECT_EQ(payloadOf(record.block), expected.at(uri));
            EXPECT_EQ(record.fields.at("WARC-Payload-Digest"), warcSha1(expected.at(uri)));
        }
    }

    // An archive is never written over a file, nor into the cache; a
    // filter file chooses the entries.
    const std::string before = readFile(dir_ / "ff.warc");
    Result again = run({"export", "firefox", "--cache", (dir_ / "ff").string(), "--warc",
                        (dir_ / "ff.warc").string()});
    EXPECT_EQ(again.code, 3);
    EXPECT_EQ(readFile(dir_ / "ff.warc"), before);
    again = run({"export", "firefox", "--cache", (dir_ / "ff").string(), "--warc",
                 (cache2 / "x.warc").string()});
    EXPECT_EQ(again.code, 3);
    EXPECT_FALSE(fs::exists(cache2 / "x.warc"));
    Item pictures;
    pictures.type = 3;  // png
    pictures.folder = dir_.path().string();
    writeFilter(dir_ / "p.flt", {pictures});
    again = run({"export", "firefox", "--cache", (dir_ / "ff").string(), "--filter",
                 (dir_ / "p.flt").string(), "--warc", (dir_ / "p.warc").string()});
    ASSERT_EQ(again.code, 0) << again.err;
    const std::vector<WarcRecord> chosen = parseRecords(readFile(dir_ / "p.warc"));
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[1].fields.at("WARC-Target-URI"), "http://a.org/p.png");

    // A picture item's width and height are measured on the served bytes,
    // decoded where the body was sent encoded, as a comb measures them; the
    // archive keeps the stored bytes. A body the probe cannot measure fails.
    const fs::path pics = dir_ / "pics" / "cache2";
    const std::string bigGzip = mozcache::encodeBody("gzip", pngBytes(150, 120));
    const std::vector<std::pair<std::string, std::string>> stored{
        {"http://p.org/big.png", pngBytes(100, 100)},
        {"http://p.org/small.png", pngBytes(6, 6)},
        {"http://p.org/big-gz.png", bigGzip},
        {"http://p.org/small-gz.png", mozcache::encodeBody("gzip", pngBytes(1, 1))},
        {"http://p.org/narrow.png", pngBytes(99, 500)},
        {"http://p.org/fake.png", binary}};
    for (const auto& [url, body] : stored) {
        const bool encoded = url.ends_with("-gz.png");
        mozcache::writeCache2Entry(pics, Cache2(url, body,
                                                std::string("Content-Type: image/png\r\n") +
                                                    (encoded ? "Content-Encoding: gzip\r\n" : "")));
    }
    pictures.minWidth = 100;
    pictures.minHeight = 100;
    pictures.folder = (dir_ / "combed").string();
    writeFilter(dir_ / "big.flt", {pictures});
    const Result combed = run({"comb", "firefox", "--cache", (dir_ / "pics").string(), "--filter",
                               (dir_ / "big.flt").string()});
    const Result exported =
        run({"export", "firefox", "--cache", (dir_ / "pics").string(), "--filter",
             (dir_ / "big.flt").string(), "--warc", (dir_ / "big.warc").string()});
    ASSERT_EQ(exported.code, 0) << exported.err;
    const std::vector<WarcRecord> big = parseRecords(readFile(dir_ / "big.warc"));
    std::map<std::string, std::string> payloads;
    for (std::size_t i = 1; i < big.size(); ++i) {
        payloads[big[i].fields.at("WARC-Target-URI")] = payloadOf(big[i].block);
    }
    EXPECT_EQ(payloads,
              (std::map<std::string, std::string>{{"http://p.org/big.png", pngBytes(100, 100)},
                                                  {"http://p.org/big-gz.png", bigGzip}}));
    // The comb of the same filter keeps the same two.
    ASSERT_EQ(combed.code, 0) << combed.err;
    EXPECT_EQ(Names(dir_ / "combed").size(), 2u);
}

TEST(SitePlaceTest, AUrlBecomesPlainSafeNamesBelowItsHost) {
    struct Case {
        std::string url;
        std::vector<std::string> folders;
        std::string file;
    };
    const std::string longName(300, 'x');
    const std::vector<Case> cases{
        {"http://127.0.0.1:8080/img/a.png", {"127.0.0.1_8080", "img"}, "a.png"},
        {"https://User:pw@Example.ORG:443/", {"example.org"}, "index.html"},
        {"http://h", {"h"}, "index.html"},
        {"http://h/d/list.php?page=2&q=a/b#top", {"h", "d"}, "list@page=2&q=a%2Fb.php"},
        {"http://h/a/../../../b/./c", {"h", "b"}, "c"},
        {"http://h/%2e%2e/%2E%2e/x%2Fy%5cz", {"h"}, "x%2Fy%5Cz"},
        {"http://h/a\\..\\..\\b", {"h"}, "b"},
        {"http://h/%00nul%0d%0a/co:n|*\"<>?", {"h", "%00nul%0D%0A"}, "co%3An%7C%2A%22%3C%3E"},
        {"http://h/dots.../ends ", {"h", "dots..%2E"}, "ends%20"},
        {"http://h/%ff%fe.bin", {"h"}, "%FF%FE.bin"},
        {"http://[::1]:81/x", {"%3A%3A1_81"}, "x"},
        {"http://../x", {".%2E"}, "x"},
        {"http://h//etc/passwd", {"h", "etc"}, "passwd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const SitePlace place = sitePlace(c.url);
        EXPECT_EQ(place.folders, c.folders);
        EXPECT_EQ(place.file, c.file);
    }
    // Long names keep their start, a hash of the whole and their extension;
    // two that share their start stay apart.
    const SitePlace a = sitePlace("http://h/" + longName + "a.png");
    const SitePlace b = sitePlace("http://h/" + longName + "b.png");
    EXPECT_LE(a.file.size(), kMaxSiteNameBytes);
    EXPECT_TRUE(a.file.starts_with("xxxx") && a.file.ends_with(".png"));
    EXPECT_NE(a.file, b.file);
}

TEST_F(ExportCommandTest, HostileUrlsPlaceNothingOutsideTheSiteTree) {
    const std::vector<std::string> urls{
        "http://h/a",
        "http://h/a/b.png",
        "http://h/../../escape1",
        "http://h/%2e%2e/%2e%2e/escape2",
        "http://h/..%2f..%2fescape3",
        "http://../escape4",
        "http://h/link/escape5",
        "http://h/kept.txt",
    };
    const fs::path cache2 = dir_ / "ff" / "cache2";
    for (const std::string& url : urls) {
        mozcache::writeCache2Entry(cache2,
                                   Cache2(url, "body of " + url, "Content-Type: text/plain\r\n"));
    }
    const fs::path tree = dir_ / "out" / "tree";
    fs::create_directories(tree / "h");
    fs::create_directories(dir_ / "elsewhere");
    // A link planted in the tree is never followed; a file there is kept.
    fs::create_directory_symlink(dir_ / "elsewhere", tree / "h" / "link");
    writeFile(tree / "h" / "kept.txt", "the user's own");

    const Result saved =
        run({"save", "firefox", "0", "1", "2", "3", "4", "5", "6", "7", "--cache",
             (dir_ / "ff").string(), "--to", tree.string(), "--site-tree", "--no-skip-duplicates"});
    ASSERT_EQ(saved.code, 0) << saved.err;
    Item all;
    all.folder = tree.string();
    writeFilter(dir_ / "all.flt", {all});
    const Result combed = run({"comb", "firefox", "--cache", (dir_ / "ff").string(), "--filter",
                               (dir_ / "all.flt").string(), "--site-tree", "--no-skip-duplicates"});
    ASSERT_EQ(combed.code, 0) << combed.err;

    // Exactly the printed files stand in the tree, each with its entry's
    // bytes; nothing came to be anywhere else.
    std::set<std::string> printed;
    std::istringstream lines(saved.out + combed.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(printed.insert(line).second) << line;
    }
    EXPECT_EQ(printed.size(), 2 * urls.size());
    std::set<std::string> found;
    std::map<std::string, int> copies;  // by content
    for (const auto& item : fs::recursive_directory_iterator(dir_.path())) {
        if (item.is_regular_file() && !isAtOrBelow(item.path(), dir_ / "ff") &&
            item.path().filename() != "all.flt" && item.path() != tree / "h" / "kept.txt") {
            found.insert(item.path().string());
            EXPECT_TRUE(isAtOrBelow(item.path(), tree)) << item.path();
            ++copies[readFile(item.path())];
        }
    }
    // Every entry twice (saved, then combed), "a" and "a/b.png" included.
    for (const std::string& url : urls) {
        EXPECT_EQ(copies["body of " + url], 2) << url;
    }
    EXPECT_EQ(found, printed);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
    EXPECT_EQ(readFile(tree / "h" / "kept.txt"), "the user's own");
    EXPECT_EQ(readFile(tree / "h" / "escape1"), "body of http://h/../../escape1");
    EXPECT_EQ(readFile(tree / "h" / "link_1" / "escape5"), "body of http://h/link/escape5");
}

}  // namespace harvix
