// harvix-cli list: the entry lines, where the cache is looked for, and the
// exit codes.
#include "cli/CombTestFixture.h"

namespace harvix {

namespace {

class ListCommandTest : public CliCacheTest {};

TEST_F(ListCommandTest, PrintsOneTabbedLinePerEntryInMapOrder) {
    const fs::path cache = dir_ / "Cache";
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/one.png", std::string(300, 'p'), "image/png", 1300000000));
        mozcache::Entry big = Http("http://a.org/two.html", std::string(20000, 'h'),
                                   "text/html; charset=utf-8", 1300000001);
        big.hash = 0x0A1B2C3D;
        big.generation = 12;
        writer.add(big);
        mozcache::Entry skipped = Http("http://a.org/skipped", "x", "text/css");
        skipped.key = "other:key";
        writer.add(skipped);
        writer.add(Http("http://a.org/odd\tname\n", "abc", "text/plain", 7));
    }
    const Result r = run({"list", "mozilla", "--cache", cache.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "0\t3\t300\t1300000000\t_CACHE_001\thttp://a.org/one.png\n"
              "1\t8\t20000\t1300000001\t0A1B2C3Dd12\thttp://a.org/two.html\n"
              "2\t15\t3\t7\t_CACHE_001\thttp://a.org/odd%09name%0A\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(Cfg()));
}

TEST_F(ListCommandTest, TheCacheIsTheGivenOneElseTheRememberedOneElseTheDiscoveredOne) {
    const fs::path remembered = dir_ / "remembered";
    const fs::path discovered = dir_ / "xdg-cache" / "mozilla" / "firefox" / "p1.default" / "Cache";
    const fs::path given = dir_ / "given";
    for (const auto& [folder, url] :
         {std::pair{remembered, "http://remembered/"}, std::pair{discovered, "http://discovered/"},
          std::pair{given, "http://given/"}}) {
        mozcache::CacheWriter writer(folder);
        writer.add(Http(url, "data", "text/plain"));
    }
    Result r = run({"list", "mozilla"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("http://discovered/"), std::string::npos) << r.out;

    writeFile(Cfg(), "[GENERAL]\nMozillaCachePath=" + remembered.string() + "\n");
    const std::string cfg = readFile(Cfg());
    r = run({"list", "firefox"});
    EXPECT_NE(r.out.find("http://remembered/"), std::string::npos) << r.out;
    r = run({"list", "--cache", given.string(), "mozilla"});
    EXPECT_NE(r.out.find("http://given/"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(Cfg()), cfg);  // read, never written
}

TEST_F(ListCommandTest, ACacheThatCannotBeOpenedGivesTheErrorTextAndExitCodeTwo) {
    const Result r = run({"list", "mozilla", "--cache", (dir_ / "nothing").string()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("MozillaCache: \n"), std::string::npos) << r.err;

    // No profile to discover either.
    const Result none = run({"list", "mozilla"});
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find("MozillaCache:"), std::string::npos);
}

TEST_F(ListCommandTest, BadArgumentsAreUsageErrors) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"list"},
                                               {"list", "opera"},
                                               {"list", "mozilla", "--cache"},
                                               {"list", "mozilla", "--cache", ""},
                                               {"list", "mozilla", "ie"},
                                               {"list", "mozilla", "--cache", "a", "--cache", "b"},
                                               {"list", "mozilla", "--verbose"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 1) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: harvix-cli list"), std::string::npos);
    }
}

}  // namespace

}  // namespace harvix
