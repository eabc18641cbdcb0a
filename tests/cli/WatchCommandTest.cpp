// harvix-cli watch: its arguments and settings checks (in this process), and
// whole runs as a separate process over a written Firefox cache, with a
// child process named like the browser, ended by SIGINT or SIGTERM.
#include <signal.h>

#include <cstdlib>

#include "CacheWriter.h"
#include "base/Profile.h"
#include "cli/CombTestFixture.h"
#include "engine/BrowserMonitor.h"
#include "support/ChildProcess.h"

namespace harvix {

// Filter items below name only the fields that differ from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace std::chrono_literals;

using WatchCommandTest = CliCacheTest;

TEST_F(WatchCommandTest, BadArgumentsAreUsageErrors) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"watch", "--period", "abc"},
          {"watch", "--period", "0"},
          {"watch", "--period", "60001"},
          {"watch", "--period", "-5"},
          {"watch", "--period"},
          {"watch", "--period", "10", "--period", "20"},
          {"watch", "mozilla"}}) {
        const Result result = run(args);
        EXPECT_EQ(result.code, kExitUsage) << args.back();
        EXPECT_NE(result.err.find("(see 'harvix-cli help watch')\n"), std::string::npos);
        EXPECT_TRUE(result.out.empty());
    }
}

TEST_F(WatchCommandTest, NothingToWatchOrNoFilterEndsAtOnce) {
    writeFile(Cfg(), "[GENERAL]\nMozilla=0\nIE=0\nMaxthon=0\n");
    Result result = run({"watch"});
    EXPECT_EQ(result.code, kExitUsage);
    EXPECT_NE(result.err.find("no browser is switched on"), std::string::npos);

    const std::string cfg =
        "[GENERAL]\nMozilla=1\nFiltersFileName=" + (dir_ / "missing.flt").string() + "\n";
    writeFile(Cfg(), cfg);
    result = run({"watch", "--period", "10"});
    EXPECT_EQ(result.code, kExitUsage);
    EXPECT_NE(result.err.find("missing.flt: cannot be loaded"), std::string::npos) << result.err;
    // Read, never written.
    EXPECT_EQ(readFile(Cfg()), cfg);
}

// harvix-cli as a process of its own, with its program folder (and so its
// settings file) in a temporary folder.
class ThreadedWatchCommand : public CliCacheTest {
protected:
    ThreadedWatchCommand() {
        fs::create_directories(dir_ / "prog" / "Langs");
        fs::copy_file(HARVIX_CLI_PATH, Cli());
        writeFilter(dir_ / "all.flt", {{.folder = (dir_ / "out").string()}});
    }
    fs::path Cli() const { return dir_ / "prog" / "harvix-cli"; }
    std::string Out() const { return readFile(dir_ / "out.txt"); }
    std::string Err() const { return readFile(dir_ / "err.txt"); }
    std::unique_ptr<Program> Watch(const std::vector<std::string>& args) {
        std::vector<std::string> words{"watch"};
        words.insert(words.end(), args.begin(), args.end());
        return std::make_unique<Program>(Cli(), words, dir_ / "out.txt", dir_ / "err.txt");
    }
    bool ErrHas(const std::string& text) const {
        return waitUntil([&] { return Err().find(text) != std::string::npos; });
    }

    ExclusiveProcessTable exclusive_;
};

TEST_F(ThreadedWatchCommand, CombsWhatTheBrowserCachedWhenItClosesUntilInterrupted) {
    const auto now = static_cast<uint32_t>(nativePlatform().currentTime());
    {
        mozcache::CacheWriter writer(dir_ / "Cache");
        writer.add(Http("http://example.org/old.png", "old bytes", "image/png", now - 86400));
        writer.add(Http("http://example.org/new.png", "new bytes", "image/png", now + 86400));
    }
    std::string cfg = "[GENERAL]\nMozillaCachePath=" + (dir_ / "Cache").string() +
                      "\nFiltersFileName=" + (dir_ / "all.flt").string() + "\n";
    for (const BrowserRow& row : browserTable()) {
        cfg += row.watchSettingsKey + (row.id == "mozilla" ? "=1\n" : "=0\n");
    }
    writeFile(Cfg(), cfg);

    ChildProcess firefox(dir_ / "bin", "firefox");
    const auto watch = Watch({"--period", "10"});
    ASSERT_TRUE(ErrHas("watching Mozilla Firefox; interrupt to stop")) << Err();
    ASSERT_TRUE(ErrHas("Mozilla Firefox is running")) << Err();
    firefox.End();

    ASSERT_TRUE(ErrHas("Mozilla Firefox: 1 file kept")) << Err();
    EXPECT_EQ(Out(), (dir_ / "out" / "file0.png").string() + "\n");
    EXPECT_EQ(readFile(dir_ / "out" / "file0.png"), "new bytes");
    EXPECT_NE(Err().find("Mozilla Firefox has closed; combing its cache (started "),
              std::string::npos);
    EXPECT_NE(Err().find("Mozilla Firefox: 1 file kept, "), std::string::npos) << Err();
    EXPECT_NE(Err().find(" combed in 0:0"), std::string::npos) << Err();

    watch->Signal(SIGINT);
    EXPECT_EQ(watch->wait(), kExitOk) << Err();
    EXPECT_NE(Err().find("stopping"), std::string::npos);
    EXPECT_EQ(readFile(Cfg()), cfg);  // the settings file is never written
}

TEST_F(ThreadedWatchCommand, SigtermEndsItPromptlyAtTheProgramsPeriod) {
    writeFile(Cfg(), "[GENERAL]\nFiltersFileName=" + (dir_ / "all.flt").string() + "\n");
    const auto watch = Watch({});
    ASSERT_TRUE(ErrHas("watching Mozilla Firefox, Microsoft Internet Explorer, Maxthon")) << Err();
    const auto start = std::chrono::steady_clock::now();
    watch->Signal(SIGTERM);
    EXPECT_EQ(watch->wait(), kExitOk) << Err();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(Out().empty());
}

TEST_F(ThreadedWatchCommand, ACacheThatCannotBeOpenedIsToldWhatFailed) {
    writeFile(Cfg(), "[GENERAL]\nMozilla=0\nIE=1\nMaxthon=0\nFiltersFileName=" +
                         (dir_ / "all.flt").string() + "\n");
    // No Wine prefix, so no URL cache: the program inherits the variable.
    const char* previous = std::getenv("WINEPREFIX");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("WINEPREFIX", (dir_ / "no-wine").c_str(), 1);
    ChildProcess browser(dir_ / "bin", "iexplore.exe");
    const auto watch = Watch({"--period", "10"});
    if (previous != nullptr) {
        setenv("WINEPREFIX", saved.c_str(), 1);
    } else {
        unsetenv("WINEPREFIX");
    }
    ASSERT_TRUE(ErrHas("Internet Explorer is running")) << Err();
    browser.End();
    ASSERT_TRUE(ErrHas("harvix-cli watch: Microsoft Internet Explorer: cannot open ")) << Err();
    // Its own words: no box text, no dialog of the tray program.
    EXPECT_EQ(Err().find("Harvix: \n"), std::string::npos) << Err();
    EXPECT_EQ(Err().find("dialog"), std::string::npos) << Err();
    watch->Signal(SIGTERM);
    EXPECT_EQ(watch->wait(), kExitOk) << Err();
}

}  // namespace

}  // namespace harvix
