// harvix-cli list: the entry lines, where the cache is looked for, and the
// exit codes.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "ChromeCacheWriter.h"
#include "cli/CombTestFixture.h"
#include "cli/EntryListing.h"
#include "engine/Browsers.h"

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
    EXPECT_EQ(r.err, "harvix-cli list: 1 left out: no URL or no data\n");
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
    // In the command line's own words: its option, not the tray's dialog.
    EXPECT_NE(r.err.find("harvix-cli list: cannot open the Firefox cache in "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("; name the cache folder with --cache\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("dialog"), std::string::npos) << r.err;

    // No profile to discover either.
    const Result none = run({"list", "mozilla"});
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find("(no cache folder found); name the cache folder with --cache"),
              std::string::npos)
        << none.err;
}

TEST_F(ListCommandTest, BadArgumentsAreUsageErrors) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"list"},
                                               {"list", "safari"},
                                               {"list", "mozilla", "--cache"},
                                               {"list", "mozilla", "--cache", ""},
                                               {"list", "mozilla", "ie"},
                                               {"list", "mozilla", "--cache", "a", "--cache", "b"},
                                               {"list", "mozilla", "--verbose"},
                                               {"list", "mozilla", "--format", "xml"},
                                               {"list", "mozilla", "--type", "picture"},
                                               {"list", "mozilla", "--type", "26"},
                                               {"list", "mozilla", "--since", "soon"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 1) << args.size();
        EXPECT_EQ(r.out, "");
        // One line: what is wrong, and where to read more.
        EXPECT_EQ(r.err.rfind("harvix-cli list: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("'harvix-cli help list')\n"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(run({}).err, "harvix-cli: no command given (see 'harvix-cli help')\n");
    EXPECT_EQ(run({"filter", "show"}).err,
              "harvix-cli filter: no filter file named (see 'harvix-cli help filter')\n");
}

// --since: seconds since 1970, a duration back from now, or a date.
TEST(SinceArgument, SecondsDurationsAndDates) {
    const int64_t now = 1800000000;
    EXPECT_EQ(parseSince("1300000000", now), 1300000000);
    EXPECT_EQ(parseSince("0", now), 0);
    EXPECT_EQ(parseSince("90s", now), now - 90);
    EXPECT_EQ(parseSince("15m", now), now - 900);
    EXPECT_EQ(parseSince("2h", now), now - 7200);
    EXPECT_EQ(parseSince("3d", now), now - 3 * 86400);
    EXPECT_EQ(parseSince("1w", now), now - 7 * 86400);
    EXPECT_EQ(parseSince("1h30m", now), now - 5400);
    EXPECT_EQ(parseSince("2026-12-01Z", now), 1796083200);
    EXPECT_EQ(parseSince("2026-12-01T10:00Z", now), 1796083200 + 36000);
    EXPECT_EQ(parseSince("2026-12-01 10:00:30Z", now), 1796083200 + 36030);
    // A local date is its local midnight.
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 1;
    local.tm_isdst = -1;
    EXPECT_EQ(parseSince("2026-12-01", now), static_cast<int64_t>(std::mktime(&local)));
    for (const char* bad : {"", "soon", "yesterday", "3x", "h", "5 m", "-2h", "2h-", "2026-02-30",
                            "2026-13-01", "2026-12-1", "2026-12-01T25:00", "2026-12-01T10",
                            "2026-12-01T10:00Q", "1969-12-31", "9999999999d"}) {
        EXPECT_EQ(parseSince(bad, now), std::nullopt) << bad;
    }
}

// The same entries in every format: TSV unchanged, CSV quoted per RFC 4180,
// JSON that a JSON parser reads back into the TSV rows; and the selection
// keeps the entries' own indexes.
TEST_F(ListCommandTest, FormatsAgreeAndTheSelectionMatchesAsAFilterItem) {
    const fs::path cache = dir_ / "Cache";
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/one.png", std::string(300, 'p'), "image/png", 1300000000));
        // Firefox's "never expires" is all ones.
        mozcache::Entry js =
            Http("http://a.org/x,\"y\".js", "abc", "application/javascript", 1300000100);
        js.lastFetched = 1300000150;
        js.expiration = 0xFFFFFFFF;
        writer.add(js);
        writer.add(Http("http://b.org/t\ta.png", "q", "image/png", 1300000200));
        writer.add(Http("http://b.org/page.html", "<p>", "text/html", 1300000300));
    }
    const std::vector<std::string> base = {"list", "mozilla", "--cache", cache.string()};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    const Result tsv = with({});
    ASSERT_EQ(tsv.code, 0) << tsv.err;
    EXPECT_EQ(with({"--format", "tsv"}).out, tsv.out);

    const Result csv = with({"--format", "csv", "--type", "js"});
    EXPECT_EQ(csv.out,
              "index,content_type,content_type_name,size,decoded_size,time,time_iso,data_file,"
              "url,status,content_type_text,response_time,last_used,expires\r\n"
              "1,11,js,3,3,1300000100,2011-03-13T07:08:20Z,_CACHE_001,"
              "\"http://a.org/x,\"\"y\"\".js\",200,application/javascript,1300000100,1300000150,"
              "\r\n");

    const Result json = with({"--format", "json"});
    ASSERT_EQ(json.code, 0) << json.err;
    const fs::path jsonFile = dir_ / "list.json";
    const fs::path rows = dir_ / "rows.tsv";
    writeFile(jsonFile, json.out);
    // Rebuilds the TSV lines from the parsed objects (control characters as
    // %XX, as the TSV writes them) and checks the ISO times against the seconds.
    const std::string script =
        "import json,sys,datetime\n"
        "out=open(sys.argv[2],'w',newline='')\n"
        "for e in json.load(open(sys.argv[1],encoding='utf-8')):\n"
        " t=datetime.datetime.fromtimestamp(e['time'],datetime.timezone.utc)\n"
        " assert e['timeIso']==t.strftime('%Y-%m-%dT%H:%M:%SZ'),e\n"
        // The status and every stored header, nothing added; the times the
        // old cache keeps, and null for "never expires".
        " assert e['status']==200 and e['responseTime']==e['time'],e\n"
        " assert e['headers']==[['Content-Type',e['contentTypeText']]],e\n"
        " assert (e['expires'] is None)==e['url'].endswith('.js'),e\n"
        " assert e['lastUsed']==(1300000150 if e['url'].endswith('.js') else 0),e\n"
        " f=lambda s:''.join('%%%02X'%ord(c) if ord(c)<32 else c for c in s)\n"
        " out.write('%d\\t%d\\t%d\\t%d\\t%s\\t%s\\n'%(e['index'],e['contentType'],e['size'],"
        "e['time'],f(e['dataFile']),f(e['url'])))\n";
    writeFile(dir_ / "check.py", script);
    const std::string command = "python3 '" + (dir_ / "check.py").string() + "' '" +
                                jsonFile.string() + "' '" + rows.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << json.out;
    EXPECT_EQ(readFile(rows), tsv.out);
    EXPECT_EQ(with({"--format", "json", "--url", "nothing-like-it"}).out, "[]\n");

    // Type, URL parts (any of them, as in a filter item) and time together;
    // the indexes are those of the whole listing.
    const Result some = with({"--type", "png", "--url", "b.org, one", "--since", "1300000100"});
    EXPECT_EQ(some.out, "2\t3\t1\t1300000200\t_CACHE_001\thttp://b.org/t%09a.png\n");
    EXPECT_EQ(with({"--since", "1300000300", "--type", "all"}).out,
              "3\t8\t3\t1300000300\t_CACHE_001\thttp://b.org/page.html\n");
    // A group by its name in any case, or by its code: both pictures.
    const Result pictures = with({"--type", "Pictures"});
    EXPECT_EQ(pictures.out, with({"--type", "30"}).out);
    EXPECT_EQ(pictures.out,
              "0\t3\t300\t1300000000\t_CACHE_001\thttp://a.org/one.png\n"
              "2\t3\t1\t1300000200\t_CACHE_001\thttp://b.org/t%09a.png\n");
}

// save copies the listed entries byte for byte under free names, never over
// a file that is there, and refuses an index the listing does not have.
TEST_F(ListCommandTest, SaveKeepsTheBytesAndNeverOverwrites) {
    const fs::path cache = dir_ / "Cache";
    const std::string picture(5000, '\x89');
    const std::string page = "<html>" + std::string(20000, 'h') + "</html>";
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/one.png", picture, "image/png"));
        writer.add(Http("http://a.org/two.html", page, "text/html"));
    }
    const fs::path out = dir_ / "out";
    fs::create_directories(out);
    writeFile(out / "pic0.png", "mine");  // the user's file keeps its bytes

    auto save = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"save", "mozilla",    "--cache", cache.string(),
                                         "--to", out.string(), "--stem",  "pic"};
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    const Result r = save({"1", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, (out / "pic0.html").string() + "\n" + (out / "pic1.png").string() + "\n");
    EXPECT_EQ(readFile(out / "pic0.png"), "mine");
    EXPECT_TRUE(readFile(out / "pic0.html") == page);
    EXPECT_TRUE(readFile(out / "pic1.png") == picture);

    // Skip Duplicates (the settings' default): the same entry again leaves
    // no second copy; without it a new name is taken.
    const Result again = save({"0"});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(Names(out), (std::vector<std::string>{"pic0.html", "pic0.png", "pic1.png"}));
    EXPECT_EQ(save({"0", "--no-skip-duplicates"}).out, (out / "pic2.png").string() + "\n");

    const Result outside = save({"0", "2"});
    EXPECT_EQ(outside.code, 1);
    EXPECT_NE(outside.err.find("index 2 is out of range: the cache lists 2 entries (0 to 1)"),
              std::string::npos)
        << outside.err;
    EXPECT_EQ(Names(out).size(), 4u);
    EXPECT_EQ(run({"save", "mozilla", "0", "--cache", cache.string()}).code, 1);  // no --to
    EXPECT_EQ(run({"save", "mozilla", "0", "--cache", cache.string(), "--to", out.string(),
                   "--stem", "../a"})
                  .code,
              1);
    EXPECT_EQ(save({"-1"}).code, 1);
}

// Chromium-based desktop apps: every app's cache below ~/.config and the
// Flatpak config folders, each named by its folder (and known apps by their
// own names in the cache window), never a browser's own folder, and exactly
// one app's with --cache.
TEST_F(ListCommandTest, AppsListsEveryDesktopAppsCache) {
    fake_.home = dir_ / "home";
    fake_.configDir = fake_.home / ".config";
    const auto app = [](const std::string& url) {
        chromecache::Entry entry;
        entry.key = chromecache::splitCacheKey(url);
        entry.head = chromecache::rawHead(200, {"Content-Type: image/png"});
        entry.body = "body of " + url;
        return entry;
    };
    chromecache::writeSimpleCache(fake_.configDir / "discord" / "Cache" / "Cache_Data",
                                  {app("https://cdn.discord/a.png")});
    chromecache::writeSimpleCache(fake_.configDir / "Slack" / "Cache" / "Cache_Data",
                                  {app("https://slack/b.png"), app("https://slack/c.png")});
    // An older app's Cache, inside a vendor's folder.
    chromecache::writeSimpleCache(fake_.configDir / "Acme" / "Acme Notes" / "Cache",
                                  {app("https://acme/d.png")});
    chromecache::writeSimpleCache(
        fake_.home / ".var/app/com.visualstudio.code/config/Code/Cache/Cache_Data",
        {app("https://code/e.png")});
    // One app installed both ways: its two caches are told apart.
    for (const fs::path& config :
         {fake_.configDir, fake_.home / ".var/app/md.obsidian.Obsidian/config"}) {
        chromecache::writeSimpleCache(config / "obsidian/Cache/Cache_Data",
                                      {app("https://obsidian/f.png")});
    }
    // A browser's own folders, which its row reads, and a folder with no cache.
    chromecache::writeSimpleCache(fake_.configDir / "chromium" / "Cache" / "Cache_Data",
                                  {app("https://browser/x.png")});
    chromecache::writeSimpleCache(
        fake_.home / ".var/app/org.chromium.Chromium/config/Some/Cache/Cache_Data",
        {app("https://browser/y.png")});
    fs::create_directories(fake_.configDir / "empty" / "Cache");

    Result r = run({"list", "apps"});
    EXPECT_EQ(r.code, 0) << r.err;
    // The data-file column's first folder names the app, a Flatpak's by its id.
    std::vector<std::string> lines;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) {
            fields.push_back(field);
        }
        ASSERT_EQ(fields.size(), 6u) << line;
        lines.push_back(fields[4].substr(0, fields[4].find('/')) + " " + fields[5]);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Acme Notes https://acme/d.png", "Slack https://slack/b.png",
                         "Slack https://slack/c.png", "com.visualstudio.code https://code/e.png",
                         "discord https://cdn.discord/a.png",
                         "md.obsidian.Obsidian https://obsidian/f.png",
                         "obsidian https://obsidian/f.png"}))
        << r.out;

    std::vector<std::string> names;
    for (const CacheProfile& profile : browserByWord("apps")->findProfiles(fake_, "")) {
        names.push_back(profile.name);
    }
    // By folder name, the desktop's first.
    EXPECT_EQ(names,
              (std::vector<std::string>{"Acme Notes", "Slack", "Discord", "Obsidian",
                                        "Visual Studio Code (Flatpak)", "Obsidian (Flatpak)"}));

    r = run({"list", "apps", "--cache", (fake_.configDir / "Slack").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_EQ(r.out.find("discord"), std::string::npos) << r.out;
}

}  // namespace

}  // namespace harvix
