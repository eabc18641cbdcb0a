// harvix-cli list and comb on the URL cache of Internet Explorer and
// Maxthon: a real index, laid out with its cached files in a temporary
// folder, named directly or found in a (fake) Wine prefix.
#include "cli/CombTestFixture.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"
#include "support/TestData.h"

namespace harvix {

namespace {

const fs::path kContentIndex = testData("msiecf/Content.IE5/index.dat");

class UrlCacheCliTest : public CliCacheTest {
protected:
    void SetUp() override { ASSERT_TEST_DATA(kContentIndex, kContentIndexBytes); }

    // Copies the index into `container` (under Wine's signature when
    // `wine`) and writes each cached file its records name, holding the URL.
    static void LayOut(const fs::path& container, bool wine = false) {
        fs::create_directories(container);
        std::string index = readFile(kContentIndex);
        if (wine) {
            index.replace(0, 28, std::string("WINE URLCache Ver 0.2012001\0", 28));
        }
        writeFile(container / "index.dat", index);
        UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(container));
        ASSERT_FALSE(openCache(reader));
        Reading reading = readCache(reader);
        for (const auto& entry : reading.entries) {
            fs::create_directories(fs::path(entry->dataFile).parent_path());
            // The record's size exactly: a copy takes that many bytes.
            std::string data = "bytes of " + entry->url;
            data.resize(static_cast<std::size_t>(entry->size), '.');
            writeFile(entry->dataFile, data);
        }
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }

    fs::path WineCache() const {
        return fake_.winePrefixPath / "drive_c" / "users" / fake_.user / "AppData" / "Local" /
               "Microsoft" / "Windows" / "INetCache" / "Content.IE5";
    }
};

TEST_F(UrlCacheCliTest, ListPrintsTheIndexEntriesWhereverTheIndexIsNamedOrFound) {
    const fs::path cache = dir_ / "Content.IE5";
    LayOut(cache);
    const Result byFile = run({"list", "ie", "--cache", (cache / "index.dat").string()});
    EXPECT_EQ(byFile.code, 0) << byFile.err;
    // What the listing left out is counted on standard error, as by comb.
    EXPECT_EQ(byFile.err, "harvix-cli list: 2 left out: no URL, local file or stored header\n");
    const auto lines = Lines(byFile.out);
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[0], "0\t5\t4286\t1440500722\t" +
                            (cache / "ENG3X4ZR" / "4f1880[1].ico").string() +
                            "\thttp://static-hp-neu.s-msn.com/sc/54/4f1880.ico");
    EXPECT_EQ(lines[18].substr(0, 3), "18\t");

    // Maxthon shares the cache; a folder names the index inside it.
    const Result byFolder = run({"list", "maxthon", "--cache", cache.string()});
    EXPECT_EQ(byFolder.code, 0) << byFolder.err;
    EXPECT_EQ(byFolder.out, byFile.out);

    // No stored head names a coding: every body is as sent, and archived.
    const Result archived =
        run({"export", "ie", "--cache", cache.string(), "--warc", (dir_ / "ie.warc").string()});
    EXPECT_EQ(archived.code, 0) << archived.err;
    const std::string warc = readFile(dir_ / "ie.warc");
    std::size_t responses = 0;
    for (std::size_t at = 0;
         (at = warc.find("\r\nWARC-Type: response\r\n", at)) != std::string::npos; ++at) {
        ++responses;
    }
    EXPECT_EQ(responses, 19u);
    EXPECT_NE(warc.find("\r\n\r\nHTTP/1.1 200 OK\r\n"), std::string::npos);

    // Without --cache: the index of the Wine prefix, under Wine's signature.
    fake_.winePrefixPath = dir_ / "wine";
    fake_.user = "alice";
    LayOut(WineCache(), true);
    const Result found = run({"list", "ie"});
    EXPECT_EQ(found.code, 0) << found.err;
    ASSERT_EQ(Lines(found.out).size(), 19u);
    EXPECT_NE(found.out.find(WineCache().string() + "/ENG3X4ZR/4f1880[1].ico\t"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(Cfg()));  // settings read, never written
}

TEST_F(UrlCacheCliTest, NoIndexOrAForeignOneExitsTwoWithTheReason) {
    fake_.winePrefixPath = dir_ / "empty-prefix";
    Result r = run({"list", "ie"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot open the URL cache"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find((dir_ / "empty-prefix").string()), std::string::npos) << r.err;

    r = run({"list", "maxthon", "--cache", dir_.path().string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("no index.dat in"), std::string::npos) << r.err;

    writeFile(dir_ / "notes.txt", "not an index at all");
    r = run({"list", "ie", "--cache", (dir_ / "notes.txt").string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");

    writeFilter(dir_ / "f.flt", {Item{0, 0, "", 0, 0, (dir_ / "out").string(), "f"}});
    r = run({"comb", "ie", "--filter", (dir_ / "f.flt").string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot open the URL cache"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(UrlCacheCliTest, CombCopiesTheMatchingCachedFilesAndPrintsThem) {
    const fs::path cache = dir_ / "cache" / "Content.IE5";
    LayOut(cache);
    const fs::path icons = dir_ / "icons";
    const fs::path feeds = dir_ / "feeds";
    writeFilter(dir_ / "f.flt", {Item{5, 0, "", 0, 0, icons.string(), "icon"},
                                 Item{9, 0, "microsoft.com", 0, 0, feeds.string(), "feed"}});
    const Result r = run({"comb", "ie", "--cache", cache.string(), "--filter",
                          (dir_ / "f.flt").string(), "--one-copy", "--no-skip-duplicates"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names(icons), (std::vector<std::string>{"icon0.ico", "icon1.ico", "icon2.ico",
                                                      "icon3.ico", "icon4.ico"}));
    EXPECT_EQ(
        readFile(icons / "icon4.ico").rfind("bytes of http://www.microsoft.com/favicon.ico?v2", 0),
        0u);
    EXPECT_EQ(Names(feeds), (std::vector<std::string>{"feed0.xml", "feed1.xml"}));
    EXPECT_EQ(readFile(feeds / "feed1.xml")
                  .rfind("bytes of http://www.microsoft.com/athome/community/rss.xml", 0),
              0u);
    EXPECT_EQ(Lines(r.out).size(), 7u);
    EXPECT_EQ(Lines(r.out)[0], (icons / "icon0.ico").string());
    EXPECT_NE(r.err.find("19 of 19 entries combed, 7 files kept"), std::string::npos) << r.err;

    // Only entries synchronised from 11:06:22 UTC on: one icon more.
    const Result later =
        run({"comb", "maxthon", "--cache", (cache / "index.dat").string(), "--filter",
             (dir_ / "f.flt").string(), "--since", "1440500782", "--no-skip-duplicates"});
    EXPECT_EQ(later.code, 0) << later.err;
    EXPECT_EQ(Lines(later.out).size(), 3u);
    EXPECT_EQ(Lines(later.out)[0], (icons / "icon5.ico").string());
    EXPECT_EQ(readFile(cache / "index.dat"), readFile(kContentIndex));
}

}  // namespace

}  // namespace harvix
