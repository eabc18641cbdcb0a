// Hostile input and careless use of harvix-cli: what it answers, and that
// it never hangs, never copies what lies outside the cache, never fails in
// silence and never writes into the cache or the user's settings folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Cache2Writer.h"
#include "cli/CombTestFixture.h"
#include "fault/FaultSupport.h"
#include "platform/FileHandle.h"
#include "platform/NewFile.h"
#include "platform/Platform.h"
#include "support/ChildProcess.h"

namespace harvix {

namespace {

class HostileInputCliTest : public CliCombTest {
protected:
    // One item that keeps everything in `folder`.
    static Item Into(const std::string& folder) {
        Item item;
        item.folder = folder;
        return item;
    }
    // A cache2 folder holding one sound entry for `url`.
    static void writeCache2(const fs::path& cache2, const std::string& url) {
        mozcache::Cache2Entry entry;
        entry.key = ":" + url;
        entry.body = "body of " + url;
        entry.elements =
            mozcache::cache2HttpElements("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n");
        mozcache::writeCache2Entry(cache2, entry);
    }
    // The Firefox profiles Firefox itself names, below the fake home and
    // cache home; `profilesIni` is the text of its profiles.ini.
    fs::path firefoxProfiles(const std::string& profilesIni) {
        fake_.home = dir_ / "home";
        writeFile(dir_ / "home" / ".config" / "mozilla" / "firefox" / "profiles.ini", profilesIni);
        return dir_ / "xdg-cache" / "mozilla" / "firefox";
    }
    // The built program with a shell redirection; its exit status.
    static int shell(const std::string& arguments) {
        const int status =
            std::system((std::string("'") + HARVIX_CLI_PATH + "' " + arguments).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(HostileInputCliTest, EveryReadingCommandTellsTheSameArgumentFaults) {
    // Each fault, for every command that reads a cache: what it must say.
    const std::vector<std::pair<std::vector<std::string>, std::string>> faults = {
        {{"mozilla", "--cache"}, "--cache needs a value"},
        {{"mozilla", "--cache", ""}, "--cache needs a path"},
        {{"mozilla", "--cache", "a", "--cache", "b"}, "unexpected argument '--cache'"},
        {{"mozilla", "--since", "soon"}, "--since 'soon' is none of"},
        {{"--cache", "a"}, "no browser named"},
        {{"netscape"}, "unknown browser 'netscape'"},
        {{"mozilla", "--bogus"}, "unexpected argument '--bogus'"},
    };
    for (const std::string command : {"list", "comb", "save", "export"}) {
        for (const auto& [arguments, said] : faults) {
            if (command == "save" && arguments[0] == "mozilla" && arguments.size() > 1 &&
                arguments[1] == "--since") {
                continue;  // save takes entries by index, not by time
            }
            std::vector<std::string> line{command};
            line.insert(line.end(), arguments.begin(), arguments.end());
            const Result r = run(line);
            EXPECT_EQ(r.code, 1) << command << " " << said;
            EXPECT_NE(r.err.find(said), std::string::npos) << command << ": " << r.err;
        }
    }
    // A yes/no pair is one option: both of its words together are a fault.
    const Result both = run({"comb", "mozilla", "--one-copy", "--no-one-copy"});
    EXPECT_EQ(both.code, 1);
    EXPECT_NE(both.err.find("unexpected argument '--no-one-copy'"), std::string::npos) << both.err;
}

TEST_F(HostileInputCliTest, FilterFilesThatAreFifosHugeOrTooLongAreToldApart) {
    // A FIFO is refused at once instead of blocking for ever.
    ASSERT_EQ(::mkfifo((dir_ / "fifo.flt").c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    Result r = run({"filter", "show", (dir_ / "fifo.flt").string()});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;

    // A file past the size limit is "too large", not "no filter file".
    writeFile(dir_ / "huge.flt", "[GENERAL]\nHarvixFilter=1\n");
    fs::resize_file(dir_ / "huge.flt", 17u * 1024 * 1024);
    r = run({"filter", "show", (dir_ / "huge.flt").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("too large"), std::string::npos) << r.err;

    // More items than the limit: the first 10,000 load, with a warning.
    std::string text = "[GENERAL]\nHarvixFilter=1\n";
    for (int i = 0; i < 10001; ++i) {
        text += "[FILTER_" + std::to_string(i) + "]\nContentType=1\nDirectory=/d\n";
    }
    writeFile(dir_ / "many.flt", text);
    r = run({"filter", "show", (dir_ / "many.flt").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("only the first 10000 items"), std::string::npos) << r.err;
}

TEST_F(HostileInputCliTest, AFirefoxCacheThatCannotBeOpenedNamesTheFolderAndTheOption) {
    writeFilter(flt, {Into((dir_ / "out").string())});
    const Result r = comb();
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(cache.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--cache"), std::string::npos) << r.err;
}

TEST_F(HostileInputCliTest, FailedCopiesAreCountedByReasonAndExitFour) {
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/ok.png", std::string(100, 'o'), "image/png"));
        writer.add(Http("http://a.org/big.png", std::string(40000, 'b'), "image/png"));
    }
    // The separate data file of the large entry is a link to a secret.
    fs::path separate;
    for (const auto& item : fs::recursive_directory_iterator(cache)) {
        if (item.is_regular_file() && item.path().filename().string().rfind("_CACHE_", 0) != 0) {
            separate = item.path();
        }
    }
    ASSERT_FALSE(separate.empty());
    writeFile(dir_ / "secret", "not the cache's");
    fs::remove(separate);
    fs::create_symlink(dir_ / "secret", separate);

    const fs::path out = dir_ / "out";
    writeFilter(flt, {Into(out.string())});
    const Result r = comb();
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_EQ(Names(out), std::vector<std::string>{"file0.png"});
    EXPECT_NE(r.err.find("1 copy failed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot be opened safely"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("http://a.org/big.png"), std::string::npos) << r.err;
}

TEST_F(HostileInputCliTest, TargetsThatCannotBeUsedExitThree) {
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/p.png", "bytes", "image/png"));
    }
    writeFilter(flt, {Into((cache / "kept").string())});
    Result r = comb();
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("only ever read"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(cache / "kept" / "file0.png"));

    // A stem holding '/' saves nothing for its item: a failure, not a
    // success; the other items still keep their files.
    Item slashed = Into((dir_ / "a").string());
    slashed.stem = "x/y";
    writeFilter(flt, {slashed, Into((dir_ / "b").string())});
    r = comb({"--no-one-copy"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("holds a '/'"), std::string::npos) << r.err;
    EXPECT_EQ(Names(dir_ / "a"), std::vector<std::string>{});
    EXPECT_EQ(Names(dir_ / "b"), std::vector<std::string>{"file0.png"});
}

TEST_F(HostileInputCliTest, OutputThatCannotBeWrittenIsAnError) {
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/p.png", "bytes", "image/png"));
    }
    EXPECT_EQ(shell("list mozilla --cache '" + cache.string() + "' > /dev/full 2>/dev/null"), 1);
    writeFilter(flt, {Into((dir_ / "out").string())});
    EXPECT_EQ(shell("comb mozilla --cache '" + cache.string() + "' --filter '" + flt.string() +
                    "' > /dev/full 2>/dev/null"),
              1);
    EXPECT_EQ(shell("save mozilla 0 --to '" + (dir_ / "saved").string() + "' --cache '" +
                    cache.string() + "' > /dev/full 2>/dev/null"),
              1);
    EXPECT_EQ(Names(dir_ / "saved").size(), 1u);  // saved all the same
}

// A USB stick or SD card as the target: exFAT and FAT have neither hard
// links nor anonymous files, and their names ignore case.
class StickTargetCliTest : public HostileInputCliTest,
                           public ::testing::WithParamInterface<StickMount::Kind> {};

TEST_P(StickTargetCliTest, ACombOntoAStickKeepsItsFilesAndReplacesNone) {
    StickMount stick(dir_ / "stick", GetParam());
    if (!stick.ok()) {
        GTEST_SKIP() << "no stick here: " << stick.failure();
    }
    const fs::path out = dir_ / "stick" / "Pictures";
    fs::create_directories(out);
    writeFile(out / "file0.png", "the user's picture");
    {
        // Another program took the name (in another case) meanwhile.
        NewFile file = NewFile::create(out);
        ASSERT_TRUE(file) << std::strerror(file.error());
        ASSERT_TRUE(writeAll(file.fd(), "copy", 4));
        EXPECT_FALSE(file.linkAs("FILE0.PNG"));
        EXPECT_EQ(file.error(), EEXIST);
    }
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/1.png", std::string(70000, 'a'), "image/png"));
        writer.add(Http("http://a.org/2.png", std::string(300, 'b'), "image/png"));
    }
    writeFilter(flt, {Into(out.string())});
    const Result r = comb();
    EXPECT_EQ(r.code, 0) << r.err;
    // No hidden name is left, and the user's file keeps its bytes.
    ASSERT_EQ(Names(out), (std::vector<std::string>{"file0.png", "file1.png", "file2.png"}));
    EXPECT_EQ(readFile(out / "file0.png"), "the user's picture");
    EXPECT_EQ(readFile(out / "file1.png").size() + readFile(out / "file2.png").size(), 70300u);
}

TEST_P(StickTargetCliTest, AClosedTerminalLeavesNoHiddenOrHalfFileBehind) {
    StickMount stick(dir_ / "stick", GetParam(), 256u << 20);
    if (!stick.ok()) {
        GTEST_SKIP() << "no stick here: " << stick.failure();
    }
    constexpr std::size_t kSize = 24u << 20;
    {
        mozcache::CacheWriter writer(cache);
        for (char c = 'a'; c < 'd'; ++c) {
            writer.add(Http(std::string("http://a.org/") + c + ".png", std::string(kSize, c),
                            "image/png"));
        }
    }
    const fs::path out = dir_ / "stick";
    writeFilter(flt, {Into(out.string())});
    Program cli(HARVIX_CLI_PATH,
                {"comb", "mozilla", "--cache", cache.string(), "--filter", flt.string()},
                dir_ / "out.txt", dir_ / "err.txt");
    const auto hiddenFileThere = [&] {
        for (const std::string& name : Names(out)) {
            if (name.rfind(".hx-", 0) == 0) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitUntil(hiddenFileThere, std::chrono::seconds(30)))
        << "no copy was seen while it was written: " << readFile(dir_ / "err.txt");
    cli.Signal(SIGHUP);
    EXPECT_EQ(cli.wait(), -1);  // ended by the signal
    EXPECT_FALSE(hiddenFileThere());
    for (const std::string& name : Names(out)) {
        EXPECT_EQ(fs::file_size(out / name), kSize) << name;  // no half copy under a real name
    }
}

INSTANTIATE_TEST_SUITE_P(Stick, StickTargetCliTest,
                         ::testing::Values(StickMount::Kind::ExfatFuse, StickMount::Kind::Vfat),
                         [](const auto& param) {
                             return param.param == StickMount::Kind::ExfatFuse ? "ExfatFuse"
                                                                               : "Vfat";
                         });
// ---- Firefox caches as real machines hold them ----

TEST_F(HostileInputCliTest, ALinkInsideAFirefoxProfileOrCacheIsRefusedWithItsReason) {
    writeCache2(dir_ / "outside", "http://secret.example/s.png");
    const fs::path profile =
        firefoxProfiles("[Profile0]\nPath=p.default\nDefault=1\n") / "p.default";
    fs::create_directories(profile / "cache2");
    fs::create_directory_symlink(dir_ / "outside" / "entries", profile / "cache2" / "entries");
    const fs::path out = dir_ / "out";
    writeFilter(flt, {Into(out.string())});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", "firefox"},
          {"list", "firefox", "--cache", profile.string()},
          {"comb", "firefox", "--filter", flt.string()},
          {"comb", "firefox", "--cache", (profile / "cache2").string(), "--filter",
           flt.string()}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << args.back() << "\n" << r.err;
        EXPECT_EQ(r.out.find("secret"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find((profile / "cache2" / "entries").string() + " is a symbolic link"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_TRUE(Names(out).empty());
}

TEST_F(HostileInputCliTest, AFirefoxEntriesFolderThatCannotBeListedIsToldNotAborted) {
    writeCache2(dir_ / "cache2", "http://a.org/p.png");
    fs::permissions(dir_ / "cache2" / "entries", fs::perms::none);
    Result r{};
    ASSERT_TRUE(runUnderFilePermissions([&] {
        r = run({"list", "mozilla", "--cache", (dir_ / "cache2").string()});
    }));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find((dir_ / "cache2" / "entries").string() + ": Permission denied"),
              std::string::npos)
        << r.err;
}

TEST_F(HostileInputCliTest, WithoutACacheTheFirefoxProfileInUseIsNamed) {
    const fs::path profiles = firefoxProfiles(
        "[Profile0]\nPath=aaaa.default\n[Profile1]\nPath=bbbb.default-esr\nDefault=1\n");
    writeCache2(profiles / "aaaa.default" / "cache2", "http://a.org/other-profile.png");
    const Result r = run({"list", "firefox"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("in " + (profiles / "bbbb.default-esr").string() + ": no Firefox cache"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("aaaa"), std::string::npos) << r.err;
}

TEST_F(HostileInputCliTest, FirefoxEntriesLeftOutAreCountedAndEntriesWithoutDataAreNoFailures) {
    // A folder of entry files (copied out of entries/): a sound entry, one
    // whose metadata hash does not hold, and a link named like an entry.
    const fs::path copied = dir_ / "copied";
    writeCache2(dir_ / "cache2", "http://a.org/sound.png");
    mozcache::Cache2Entry damaged;
    damaged.key = ":http://a.org/damaged.png";
    damaged.body = "d";
    damaged.wrongHash = true;
    mozcache::writeCache2Entry(dir_ / "cache2", damaged);
    fs::rename(dir_ / "cache2" / "entries", copied);
    fs::create_symlink(dir_ / "secret", copied / std::string(40, 'A'));
    Result r = run({"list", "firefox", "--cache", copied.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("http://a.org/sound.png"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("list: 1 left out: bad metadata hash\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("list: 1 left out: entry file that is a link or not a regular file\n"),
              std::string::npos)
        << r.err;

    // An old-format record whose metadata lives in a separate file is listed
    // with size 0; a comb copies nothing for it and does not fail.
    {
        mozcache::CacheWriter writer(cache);
        writer.add(Http("http://a.org/kept.png", "png", "image/png"));
        mozcache::Entry apart = Http("http://a.org/apart.png", "data", "image/png");
        apart.metaPlace = mozcache::Place::Separate;
        writer.add(apart);
    }
    r = run({"list", "mozilla", "--cache", cache.string()});
    EXPECT_NE(r.out.find("\n1\t0\t0\t"), std::string::npos) << r.out;
    writeFilter(flt, {Into((dir_ / "out").string())});
    r = comb();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names(dir_ / "out"), std::vector<std::string>{"file0.png"});
    EXPECT_NE(r.err.find("comb: 1 left out: no data\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("failed"), std::string::npos) << r.err;
}

// The whole cache2 folder is the cache: Firefox cleans doomed/ and may write
// anywhere in it, so no target may lie at or below it, however it is spelt.
TEST_F(HostileInputCliTest, NoTargetAtOrBelowAFirefoxCache2Folder) {
    const fs::path cache2 = dir_ / "p.default" / "cache2";
    writeCache2(cache2, "http://a.org/p.png");
    fs::create_directories(cache2 / "doomed");
    fs::create_directory_symlink(cache2, dir_ / "link");
    for (const fs::path& target : {cache2 / "doomed" / "x", cache2, cache2 / "x",
                                   cache2 / "other" / ".." / "cache2" / "y", dir_ / "link" / "z"}) {
        writeFilter(flt, {Into(target.string())});
        const Result r = run({"comb", "firefox", "--cache", (dir_ / "p.default").string(),
                              "--filter", flt.string()});
        EXPECT_EQ(r.code, 3) << target;
        EXPECT_NE(r.err.find("only ever read"), std::string::npos) << target << "\n" << r.err;
    }
    const Result saved = run(
        {"save", "firefox", "0", "--cache", cache2.string(), "--to", (cache2 / "saved").string()});
    EXPECT_EQ(saved.code, 3) << saved.err;
}

TEST_F(HostileInputCliTest, ARefusedTargetInsideAFirefoxCache2FolderIsNeverMade) {
    const fs::path cache2 = dir_ / "p.default" / "cache2";
    writeCache2(cache2, "http://a.org/p.png");
    fs::create_directories(cache2 / "doomed");
    fs::create_directory_symlink(cache2, dir_ / "link");
    for (const fs::path& target :
         {cache2 / "doomed" / "x", cache2 / "x", cache2 / "other" / ".." / "cache2" / "y",
          dir_ / "link" / "z", cache2 / "saved"}) {
        writeFilter(flt, {Into(target.string())});
        run({"comb", "firefox", "--cache", cache2.string(), "--filter", flt.string()});
        run({"save", "firefox", "0", "--cache", cache2.string(), "--to", target.string()});
    }
    EXPECT_EQ(Names(cache2), (std::vector<std::string>{"doomed", "entries"}));
    EXPECT_TRUE(Names(cache2 / "doomed").empty());
}

TEST(HostileInputPlatform, ReadingTheSettingsCreatesNoConfigFolder) {
    TempDir home;
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    const fs::path folder = nativePlatform().settingsFolder(home / "no-program-folder");
    if (previous != nullptr) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(folder, home / "config" / "Harvix");
    EXPECT_FALSE(fs::exists(home / "config"));
}

}  // namespace

}  // namespace harvix
