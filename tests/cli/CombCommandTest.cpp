// harvix-cli comb: whole comb runs of written caches into temporary folders,
// checked by file names, bytes and the printed list of kept files.
#include <sys/wait.h>

#include <fstream>

#include "Description.h"
#include "Pictures.h"
#include "cli/CombTestFixture.h"

namespace harvix {

// Filter items below name only the fields that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

class CombCommandTest : public CliCombTest {
protected:
    std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }
};

TEST_F(CombCommandTest, AMixedCacheIsCombedIntoTheItemsFolders) {
    const std::string bigJpeg = mozcache::makeJpeg(800, 600, 1);
    const std::string smallJpeg = mozcache::makeJpeg(40, 30, 2);
    const std::string png = mozcache::makePng(200, 150, 3);
    const std::string css = "body { margin: 0 }\n";
    const std::string script(50000, ';');
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://photos.example.org/big.jpg", bigJpeg, "image/jpeg"));
        writer.add(Http("http://photos.example.org/thumb.jpg", smallJpeg, "image/jpeg"));
        writer.add(Http("http://example.org/logo.png", png, "image/png"));
        writer.add(Http("http://example.org/site.css", css, "text/css"));
        writer.add(Http("http://example.org/app.js", script, "application/javascript"));
        mozcache::Entry odd = Http("http://example.org/odd.png", png, "image/png");
        odd.zeroHash = true;
        writer.add(odd);
    }
    const fs::path pictures = dir_ / "out" / "pictures";
    const fs::path code = dir_ / "out" / "code";
    writeFilter(flt, {{.type = 1,
                       .minWidth = 100,
                       .minHeight = 100,
                       .folder = pictures.string(),
                       .stem = "photo"},
                      {.type = 3, .folder = pictures.string(), .stem = "logo"},
                      {.type = 0, .url = "site.css, app.js", .folder = code.string()},
                      {.type = 0, .folder = code.string(), .disabled = true}});
    const Result r = comb();
    ASSERT_EQ(r.code, 0) << r.err;

    // The small JPEG was written and removed again, so its number is free
    // for the PNG.
    EXPECT_EQ(Names(pictures), (std::vector<std::string>{"logo1.png", "photo0.jpg"}));
    EXPECT_EQ(Names(code), (std::vector<std::string>{"file0.css", "file1.js"}));
    EXPECT_EQ(readFile(pictures / "photo0.jpg"), bigJpeg);
    EXPECT_EQ(readFile(pictures / "logo1.png"), png);
    EXPECT_EQ(readFile(code / "file0.css"), css);
    EXPECT_EQ(readFile(code / "file1.js"), script);
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{
                  (pictures / "photo0.jpg").string(), (pictures / "logo1.png").string(),
                  (code / "file0.css").string(), (code / "file1.js").string()}));
    EXPECT_NE(r.err.find("5 of 5 entries combed, 4 files kept"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);  // no progress bar off a terminal
    EXPECT_FALSE(fs::exists(Cfg()));
}

TEST_F(CombCommandTest, TheOptionsDecideCopiesAndDuplicates) {
    const std::string png = mozcache::makePng(30, 30);
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/p.png", png, "image/png"));
    }
    const fs::path first = dir_ / "first";
    const fs::path second = dir_ / "second";
    writeFilter(flt,
                {{.type = 3, .folder = first.string()}, {.type = 0, .folder = second.string()}});

    Result r = comb({"--one-copy", "--skip-duplicates"});
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{(first / "file0.png").string()});
    EXPECT_TRUE(Names(second).empty());
    // Again: the copy equals the file already there and goes; One Copy
    // still stops at the first item.
    r = comb({"--one-copy", "--skip-duplicates"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Names(first), std::vector<std::string>{"file0.png"});
    EXPECT_NE(r.err.find("0 files kept"), std::string::npos) << r.err;

    r = comb({"--no-one-copy", "--no-skip-duplicates"});
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{(first / "file1.png").string(),
                                                      (second / "file0.png").string()}));
    EXPECT_EQ(readFile(second / "file0.png"), png);
}

TEST_F(CombCommandTest, WithoutOptionsTheSettingsDecideAndStayUnwritten) {
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/p.png", "same bytes", "image/png"));
    }
    const fs::path out = dir_ / "out";
    writeFilter(flt, {{.folder = out.string()}});
    writeFile(Cfg(), "[GENERAL]\nSkipDuplicates=0\nOneCopy=1\nMozillaCachePath=/nowhere\n");
    const std::string cfg = readFile(Cfg());
    comb();
    comb();
    EXPECT_EQ(Names(out), (std::vector<std::string>{"file0.png", "file1.png"}));
    EXPECT_EQ(readFile(Cfg()), cfg);
}

TEST_F(CombCommandTest, TheFilterIsTheCurrentOneOfTheSettingsElseTheDefaultOne) {
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/p.png", "bytes", "image/png"));
    }
    const fs::path fromDefault = dir_ / "from-default";
    const fs::path fromSettings = dir_ / "from-settings";
    writeFilter(dir_ / "prog" / "Filters" / "Default.flt", {{.folder = fromDefault.string()}});
    writeFilter(flt, {{.folder = fromSettings.string()}});

    Result r = run({"comb", "mozilla", "--cache", cache.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names(fromDefault), std::vector<std::string>{"file0.png"});

    writeFile(Cfg(), "[GENERAL]\nFiltersFileName=" + flt.string() + "\n");
    r = run({"comb", "mozilla", "--cache", cache.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names(fromSettings), std::vector<std::string>{"file0.png"});

    writeFile(Cfg(), "[GENERAL]\nFiltersFileName=" + (dir_ / "gone.flt").string() + "\n");
    r = run({"comb", "mozilla", "--cache", cache.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("gone.flt"), std::string::npos) << r.err;
}

TEST_F(CombCommandTest, SinceSkipsOlderEntries) {
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/old.css", "old", "text/css", 1000));
        writer.add(Http("http://a.org/new.css", "new", "text/css", 2000));
        writer.add(Http("http://a.org/now.css", "now", "text/css", 3000));
    }
    const fs::path out = dir_ / "out";
    writeFilter(flt, {{.folder = out.string()}});
    const Result r = comb({"--since", "2000"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"file0.css", "file1.css"}));
    EXPECT_EQ(readFile(out / "file0.css"), "new");
    EXPECT_NE(r.err.find("2 of 3 entries combed"), std::string::npos) << r.err;
}

TEST_F(CombCommandTest, FailuresGiveTheirExitCodes) {
    const fs::path out = dir_ / "out";
    writeFilter(flt, {{.folder = out.string()}});
    Result r = comb();  // no cache there
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot open the Firefox cache"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));

    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/p.png", "bytes", "image/png"));
    }
    // A folder that fails the rule stops the run before anything is made;
    // the same folder on a disabled item (an unplugged drive) stops nothing.
    writeFilter(flt, {{.folder = out.string()}, {.folder = "relative/folder"}});
    r = comb();
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("FilterCache: \n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(out));
    writeFilter(flt, {{.folder = out.string()}, {.folder = "relative/folder", .disabled = true}});
    r = comb();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names(out), std::vector<std::string>{"file0.png"});
    fs::remove_all(out);

    for (const auto& extra :
         std::vector<std::vector<std::string>>{{"--since"},
                                               {"--since", "yesterday"},
                                               {"--one-copy", "--no-one-copy"},
                                               {"--skip-duplicates", "--skip-duplicates"},
                                               {"--filter"},
                                               {"ie"},
                                               {"--fast"}}) {
        r = comb(extra);
        EXPECT_EQ(r.code, 1) << extra.front();
        EXPECT_NE(r.err.find("(see 'harvix-cli help comb')"), std::string::npos) << r.err;
    }
    EXPECT_EQ(run({"comb"}).code, 1);
    EXPECT_EQ(run({"comb", "netscape"}).code, 1);
}

TEST(CombProgramTest, TheBuiltProgramKeepsStandardOutputForThePaths) {
    TempDir dir;
    {
        mozcache::CacheWriter writer(dir / "Cache");
        mozcache::Entry entry;
        entry.key = "HTTP:http://a.org/x.png";
        entry.data = mozcache::makePng(10, 10);
        entry.values =
            mozcache::responseValues(mozcache::ResponseHead({"Content-Type: image/png"}));
        writer.add(entry);
    }
    writeFile(dir / "f.flt", "[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=3\nDirectory=" +
                                 (dir / "out").string() + "\nFileNameDummy=pic\n");
    const std::string command = std::string("'") + HARVIX_CLI_PATH + "' comb mozilla --cache '" +
                                (dir / "Cache").string() + "' --filter '" +
                                (dir / "f.flt").string() + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(out, (dir / "out" / "pic0.png").string() + "\n");
}

}  // namespace

namespace {

// The shipped demo: its sample cache combed with its filter keeps exactly
// the entries whose notes say "saved", in that order.
TEST_F(CombCommandTest, TheShippedDemoSampleKeepsWhatItsNotesSay) {
    const fs::path resources = fs::path(HARVIX_SOURCE_DIR) / "resources" / "demo";
    std::ifstream description(resources / "sample-cache.txt");
    ASSERT_TRUE(description);
    const mozcache::Description sample = mozcache::readDescription(description, resources);
    description.clear();
    description.seekg(0);
    mozcache::writeDescribedCache(description, resources, cache);

    const fs::path out = dir_ / "combed";
    std::string filter = readFile(resources / "Demo.flt.in");
    for (std::size_t at; (at = filter.find("@OUT@")) != std::string::npos;) {
        filter.replace(at, 5, out.string());
    }
    writeFile(flt, filter);
    const Result r = comb({"--one-copy", "--skip-duplicates"});
    ASSERT_EQ(r.code, 0) << r.err;

    const std::vector<std::string> kept = Lines(r.out);
    std::vector<std::string> savedUrls;
    for (const auto& record : sample.records) {
        if (record.note.rfind("saved", 0) == 0) {
            savedUrls.push_back(record.url);
        }
    }
    ASSERT_EQ(kept.size(), savedUrls.size()) << r.out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        // Each kept file holds the data of the entry its note names.
        for (const auto& record : sample.records) {
            if (record.url == savedUrls[i]) {
                EXPECT_EQ(readFile(kept[i]), record.entry.data) << savedUrls[i];
            }
        }
    }
}

}  // namespace

}  // namespace harvix
