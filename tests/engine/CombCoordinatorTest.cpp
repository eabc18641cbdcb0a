// The comb coordinator: the browser table, the close-the-browser events,
// manual and automatic runs over a reader of the test's own, the run lock,
// the snapshot a run combs while the user edits, and ending the program
// while threads work.
//
// Suites whose names start with "Threaded" start comb or monitor threads.
#include <gtest/gtest.h>

#include <algorithm>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "base/ErrorReport.h"
#include "base/Profile.h"
#include "engine/CombCoordinator.h"
#include "platform/FileHandle.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

using namespace std::chrono_literals;

struct FakeEntry {
    std::string url;
    int64_t time;
};

// What the readers of the test saw, shared by every reader it made.
class FakeCaches {
public:
    // One reader's life.
    struct Run {
        const BrowserRow* kind = nullptr;
        std::string folderGiven;  // the cache folder the coordinator handed over
        std::vector<std::string> copied;
        bool closed = false;
    };

    std::vector<FakeEntry> entries;
    std::string discoveredFolder = "/found/cache";
    bool failOpen = false;
    std::chrono::microseconds copyDelay{0};
    std::chrono::microseconds readDelay{0};  // per record of a reading

    std::unique_ptr<CacheReader> Make(const BrowserRow& browser, const std::string& folder);

    // Holds the next readers inside Open until Release.
    void Hold() {
        const std::lock_guard<std::mutex> guard(lock_);
        hold_ = true;
    }
    void Release() {
        const std::lock_guard<std::mutex> guard(lock_);
        hold_ = false;
        changed_.notify_all();
    }
    bool InsideOpen() {
        const std::lock_guard<std::mutex> guard(lock_);
        return insideOpen_;
    }
    std::vector<Run> Runs() {
        const std::lock_guard<std::mutex> guard(lock_);
        return runs_;
    }
    std::size_t RunCount() {
        const std::lock_guard<std::mutex> guard(lock_);
        return runs_.size();
    }
    std::size_t CopiedInRun(std::size_t run) {
        const std::lock_guard<std::mutex> guard(lock_);
        return run < runs_.size() ? runs_[run].copied.size() : 0;
    }
    // Most readers alive at one time.
    int MostAlive() {
        const std::lock_guard<std::mutex> guard(lock_);
        return mostAlive_;
    }

private:
    class Reader;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Run> runs_;
    bool hold_ = false;
    bool insideOpen_ = false;
    int alive_ = 0;
    int mostAlive_ = 0;
    TempDir files_;  // the cached files of every reader
};

class FakeCaches::Reader : public CacheReader {
public:
    Reader(FakeCaches& caches, std::size_t run) : caches_(caches), run_(run) {
        const std::lock_guard<std::mutex> guard(caches_.lock_);
        caches_.mostAlive_ = std::max(caches_.mostAlive_, ++caches_.alive_);
    }
    ~Reader() override {
        const std::lock_guard<std::mutex> guard(caches_.lock_);
        --caches_.alive_;
    }
    void open() override {
        if (cacheFolder.empty()) {
            cacheFolder = caches_.discoveredFolder;  // what discovery would find
        }
        std::unique_lock<std::mutex> guard(caches_.lock_);
        caches_.insideOpen_ = true;
        caches_.changed_.wait(guard, [&] { return !caches_.hold_; });
        caches_.insideOpen_ = false;
        if (caches_.failOpen) {
            guard.unlock();
            throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen, cacheFolder, {},
                              ENOENT);
        }
        root_ = resolveFolder(caches_.files_.path());
    }
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts&) override {
        for (std::size_t i = 0; i < caches_.entries.size() && keepReading(out); ++i) {
            if (caches_.readDelay.count() > 0) {
                std::this_thread::sleep_for(caches_.readDelay);
            }
            const FakeEntry& source = caches_.entries[i];
            auto entry = std::make_unique<CacheEntry>();
            entry->url = source.url;
            entry->time = source.time;
            entry->size = source.url.size();
            entry->dataFile = "e" + std::to_string(i);
            if (!fs::exists(root_ / entry->dataFile)) {
                writeFile(root_ / entry->dataFile, source.url);
            }
            out.push_back(std::move(entry));
        }
    }
    BodySource bodySource(const CacheEntry& entry) const override {
        if (caches_.copyDelay.count() > 0) {
            std::this_thread::sleep_for(caches_.copyDelay);
        }
        const std::lock_guard<std::mutex> guard(caches_.lock_);
        caches_.runs_[run_].copied.push_back(entry.url);
        return BodySource{root_ / entry.dataFile,    0,       entry.size,
                          ContentEncoding::Identity, nullptr, root_};
    }
    void close() override {
        const std::lock_guard<std::mutex> guard(caches_.lock_);
        caches_.runs_[run_].closed = true;
    }
    std::string cacheLocation() const override { return cacheFolder; }

    std::string cacheFolder;

private:
    FakeCaches& caches_;
    std::size_t run_;
};

std::unique_ptr<CacheReader> FakeCaches::Make(const BrowserRow& browser,
                                              const std::string& folder) {
    std::size_t run = 0;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        runs_.push_back(Run{&browser, folder, {}, false});
        run = runs_.size() - 1;
    }
    auto reader = std::make_unique<Reader>(*this, run);
    reader->cacheFolder = folder;
    return reader;
}

const BrowserRow& kMozilla = *browserByWord("mozilla");
const BrowserRow& kIE = *browserByWord("ie");
const BrowserRow& kMaxthon = *browserByWord("maxthon");

const std::string kCloseText = "has to be closed. Please, close the browser and try again.";

// The front end's side: what came, on which thread. It keeps the Firefox
// cache folder option as the tray program does: a folder a run found is
// stored only when the option still reads what the run started with.
struct WindowSide : CoordinatorEvents {
    std::mutex lock;
    std::vector<int32_t> states;
    std::vector<int32_t> percents;
    std::vector<std::thread::id> threads;
    std::vector<std::string> boxes;  // error boxes and close-the-browser messages
    std::vector<CombResult> results;
    std::vector<std::string> kept;
    std::vector<std::string> failures;
    std::string cacheFolderOption;
    CombCoordinator* coordinator = nullptr;
    RunOptions options;

    void runState(const BrowserRow&, bool started) override {
        const std::lock_guard<std::mutex> guard(lock);
        states.push_back(started ? 1 : 0);
        threads.push_back(std::this_thread::get_id());
    }
    void progress(int32_t percent) override {
        const std::lock_guard<std::mutex> guard(lock);
        percents.push_back(percent);
    }
    void keptFile(const BrowserRow&, const CacheEntry&, const std::string& path) override {
        const std::lock_guard<std::mutex> guard(lock);
        kept.push_back(path);
    }
    void error(const BrowserRow& browser, const ErrorReport& report) override {
        const std::lock_guard<std::mutex> guard(lock);
        boxes.push_back(errorBoxText(report, LanguageTexts{}, &browser));
    }
    void runFinished(const BrowserRow&, const CombRun& run) override {
        const std::lock_guard<std::mutex> guard(lock);
        if (!run.openError) {
            results.push_back(run.result);
        }
    }
    void runFailed(const BrowserRow& browser, const std::string& why) override {
        const std::lock_guard<std::mutex> guard(lock);
        failures.push_back(browser.id + ": " + why);
    }
    void browserRunning(const BrowserRow& browser) override {
        const std::lock_guard<std::mutex> guard(lock);
        boxes.push_back(browser.displayName + " " + kCloseText);
    }
    void cacheFolderFound(const std::string& startedWith, const std::string& found) override {
        const std::lock_guard<std::mutex> guard(lock);
        if (cacheFolderOption == startedWith) {
            cacheFolderOption = found;
            options.firefoxCacheFolder = found;
            coordinator->setOptions(options);
        }
    }
    std::vector<int32_t> States() {
        const std::lock_guard<std::mutex> guard(lock);
        return states;
    }
    std::vector<std::string> Boxes() {
        const std::lock_guard<std::mutex> guard(lock);
        return boxes;
    }
    std::string Option() {
        const std::lock_guard<std::mutex> guard(lock);
        return cacheFolderOption;
    }
};

// A coordinator over a fake platform (the process table holds this test's
// children only) and the readers above. The filter set has one item that
// keeps every entry.
class CoordinatorTest : public ::testing::Test {
protected:
    CoordinatorTest() : scoped_(table_) {
        table_.exePath = dir_ / "prog" / "harvix";
        fs::create_directories(dir_ / "prog");
    }
    ~CoordinatorTest() override {
        caches_.Release();
        coordinator_.reset();
    }

    void Make(uint32_t period = 5) {
        coordinator_ = std::make_unique<CombCoordinator>(table_, window_, period);
        window_.coordinator = coordinator_.get();
        coordinator_->makeReader = [this](const BrowserRow& browser, const std::string& folder) {
            return caches_.Make(browser, folder);
        };
        FilterItem* item = filter_.insertItem(nullptr, -1);
        item->directoryTemplate = (dir_ / "out").string();
        item->stem = "file";
        coordinator_->setFilter(filter_);
        coordinator_->setOptions(window_.options);
    }
    // Watch only the browsers named.
    void UseWith(bool mozilla, bool ie, bool maxthon) {
        std::vector<const BrowserRow*> watched;
        for (const auto& [on, browser] :
             {std::pair{mozilla, &kMozilla}, std::pair{ie, &kIE}, std::pair{maxthon, &kMaxthon}}) {
            if (on) {
                watched.push_back(browser);
            }
        }
        coordinator_->startMonitors(watched);
    }

    TempDir dir_;
    ChildProcessTable table_;
    ScopedPlatform scoped_;
    FilterSet filter_;
    FakeCaches caches_;
    WindowSide window_;
    std::unique_ptr<CombCoordinator> coordinator_;
};

using Coordinator = CoordinatorTest;
using ThreadedCombCoordinator = CoordinatorTest;

TEST_F(Coordinator, AFirefoxCacheThatCannotBeOpenedShowsOneBoxAndStillReportsTheRun) {
    Make();
    caches_.entries = {{"http://a/1", 5}};
    caches_.failOpen = true;
    coordinator_->runComb(kMozilla, 0);
    ASSERT_EQ(window_.Boxes().size(), 1u);
    EXPECT_EQ(window_.Boxes()[0].rfind("MozillaCache: \n", 0), 0u);
    EXPECT_NE(window_.Boxes()[0].find("/found/cache"), std::string::npos);  // the folder tried
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    ASSERT_EQ(caches_.RunCount(), 1u);
    EXPECT_TRUE(caches_.Runs()[0].copied.empty());
    EXPECT_TRUE(window_.failures.empty());

    // A fault no handler expects (here the reader cannot even be made) ends
    // the run, which is told as one that started, failed and ended.
    coordinator_->makeReader = [](const BrowserRow&,
                                  const std::string&) -> std::unique_ptr<CacheReader> {
        throw std::runtime_error("out of memory");
    };
    coordinator_->runComb(kIE, 0);
    EXPECT_EQ(window_.failures, std::vector<std::string>{"ie: out of memory"});
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0, 1, 0}));
}

TEST_F(Coordinator, ATargetFolderThatCannotBeMadeEndsThePassWithOneBox) {
    Make();
    caches_.entries = {{"http://a/1", 5}, {"http://a/2", 6}};
    filter_.items[0]->directoryTemplate = "relative/folder";
    coordinator_->setFilter(filter_);
    coordinator_->runComb(kIE, 0);
    ASSERT_EQ(window_.Boxes().size(), 1u);
    EXPECT_EQ(window_.Boxes()[0].rfind("FilterCache: \n", 0), 0u);
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].copied.empty());
    EXPECT_TRUE(runs[0].closed);
}

TEST_F(ThreadedCombCoordinator, CombCommandsWhileABrowserRunsShowTheMessageAndStartNothing) {
    Make();
    {
        ChildProcess firefox(dir_ / "bin", "firefox");
        coordinator_->startComb(kMozilla);
        ASSERT_EQ(window_.Boxes().size(), 1u);
        EXPECT_EQ(window_.Boxes()[0], "Mozilla Firefox " + kCloseText);
    }
    {
        // Internet Explorer is closed, but Maxthon shares its cache.
        ChildProcess maxthon(dir_ / "bin", "maxthon.exe");
        coordinator_->startComb(kIE);
        ASSERT_EQ(window_.Boxes().size(), 2u);
        EXPECT_EQ(window_.Boxes()[1], "Maxthon " + kCloseText);
    }
    {
        ChildProcess ie(dir_ / "bin", "iexplore.exe");
        coordinator_->startComb(kMaxthon);
        ASSERT_EQ(window_.Boxes().size(), 3u);
        EXPECT_EQ(window_.Boxes()[2], "Microsoft Internet Explorer " + kCloseText);
    }
    EXPECT_FALSE(coordinator_->busy);
    coordinator_.reset();
    EXPECT_EQ(caches_.RunCount(), 0u);
}

TEST_F(ThreadedCombCoordinator, AManualRunCombsEveryEntryOnAWorkerAndRemembersTheCacheFolder) {
    Make();
    caches_.entries = {{"http://a/old", 1}, {"http://a/new", 2000000000}, {"http://a/3", 7}};
    coordinator_->startComb(kMozilla);
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }));

    auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].kind, &kMozilla);
    EXPECT_EQ(runs[0].folderGiven, "");
    // Every entry copied once; the copy threads begin them in any order.
    std::sort(runs[0].copied.begin(), runs[0].copied.end());
    EXPECT_EQ(runs[0].copied,
              (std::vector<std::string>{"http://a/3", "http://a/new", "http://a/old"}));
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(readFile(dir_ / "out" / "file0.all"), "http://a/old");
    EXPECT_EQ(window_.Option(), "/found/cache");
    {
        const std::lock_guard<std::mutex> guard(window_.lock);
        EXPECT_EQ(window_.states, (std::vector<int32_t>{1, 0}));
        EXPECT_NE(window_.threads[0], std::this_thread::get_id());
        EXPECT_FALSE(window_.percents.empty());
        for (const int32_t percent : window_.percents) {
            EXPECT_GE(percent, 0);
            EXPECT_LE(percent, 100);
        }
    }

    // The next Firefox run starts from the remembered folder.
    coordinator_->startComb(kMozilla);
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }));
    runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].folderGiven, "/found/cache");
}

TEST_F(ThreadedCombCoordinator, ASecondCombCommandDuringAManualRunDoesNothing) {
    Make();
    caches_.Hold();
    coordinator_->startComb(kMozilla);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    coordinator_->startComb(kIE);
    coordinator_->startComb(kMozilla);
    EXPECT_TRUE(window_.Boxes().empty());
    EXPECT_TRUE(coordinator_->busy);
    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }));
    EXPECT_EQ(caches_.RunCount(), 1u);
    EXPECT_EQ(caches_.Runs()[0].kind, &kMozilla);
}

TEST_F(ThreadedCombCoordinator, ABrowserClosingStartsOneAutomaticRunOverWhatItCachedMeanwhile) {
    Make();
    const int64_t before = table_.currentTime();
    ChildProcess firefox(dir_ / "bin", "firefox");
    UseWith(true, false, false);
    ASSERT_TRUE(waitUntil([&] { return coordinator_->monitors[0]->found.load(); }));
    const int64_t seen = table_.currentTime();
    EXPECT_FALSE(coordinator_->monitors[1]->running);
    EXPECT_FALSE(coordinator_->monitors[2]->running);
    // Entries older than the browser's start stay; one cached while it ran is kept.
    caches_.entries = {{"http://a/before", before - 1}, {"http://a/while", seen}};
    EXPECT_EQ(caches_.RunCount(), 0u);

    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 2; }));
    ASSERT_TRUE(table_.waitForMorePolls(3));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].kind, &kMozilla);
    EXPECT_EQ(runs[0].copied, std::vector<std::string>{"http://a/while"});
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    EXPECT_FALSE(coordinator_->busy);
}

TEST_F(ThreadedCombCoordinator, ABrowserRestartedDuringALongRunGetsARunSinceItsSecondStart) {
    Make();
    table_.now = 100;
    caches_.entries = {
        {"http://a/first", 100}, {"http://a/between", 150}, {"http://a/second", 200}};
    auto firefox = std::make_unique<ChildProcess>(dir_ / "bin", "firefox");
    UseWith(true, false, false);
    ASSERT_TRUE(waitUntil([&] { return coordinator_->monitors[0]->found.load(); }));
    // The run of the first close is held long...
    caches_.Hold();
    firefox.reset();
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    // ...while Firefox starts again and closes: the monitor sees both.
    table_.now = 200;
    firefox = std::make_unique<ChildProcess>(dir_ / "bin", "firefox");
    ASSERT_TRUE(waitUntil([&] { return coordinator_->monitors[0]->found.load(); }));
    table_.now = 300;
    firefox.reset();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->monitors[0]->found.load(); }));
    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 4; }));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].copied.size(), 3u);
    EXPECT_EQ(runs[1].kind, &kMozilla);
    EXPECT_EQ(runs[1].copied, std::vector<std::string>{"http://a/second"});
}

TEST_F(ThreadedCombCoordinator, ManualAndAutomaticRunsTakeTurnsOnTheRunLock) {
    Make();
    const int64_t before = table_.currentTime();
    caches_.entries = {{"http://a/before", before - 1}, {"http://a/late", 2000000000}};
    ChildProcess firefox(dir_ / "bin", "firefox");
    UseWith(true, false, false);
    ASSERT_TRUE(waitUntil([&] { return coordinator_->monitors[0]->found.load(); }));

    // A manual run of the other cache holds the lock...
    caches_.Hold();
    coordinator_->startComb(kIE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    // ...when Firefox closes: its automatic run waits.
    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->monitors[0]->found.load(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(caches_.RunCount(), 1u);
    EXPECT_EQ(window_.States(), std::vector<int32_t>{1});

    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 4; }));
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0, 1, 0}));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].kind, &kIE);
    EXPECT_EQ(runs[0].copied.size(), 2u);
    EXPECT_EQ(runs[1].kind, &kMozilla);
    EXPECT_EQ(runs[1].copied, std::vector<std::string>{"http://a/late"});
    EXPECT_EQ(caches_.MostAlive(), 1);
    EXPECT_TRUE(waitUntil([&] { return !coordinator_->busy; }));
}

TEST_F(ThreadedCombCoordinator, InternetExplorerAndMaxthonClosingGiveOneRunEach) {
    Make();
    caches_.entries = {{"http://a/late", 2000000000}};
    auto ie = std::make_unique<ChildProcess>(dir_ / "bin", "iexplore.exe");
    auto maxthon = std::make_unique<ChildProcess>(dir_ / "bin", "MAXTHON.EXE");
    UseWith(false, true, true);
    ASSERT_TRUE(waitUntil([&] {
        return coordinator_->monitors[1]->found.load() && coordinator_->monitors[2]->found.load();
    }));
    ie.reset();
    maxthon.reset();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 4; }));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ((std::set<const BrowserRow*>{runs[0].kind, runs[1].kind}),
              (std::set<const BrowserRow*>{&kIE, &kMaxthon}));
    EXPECT_EQ(caches_.MostAlive(), 1);
}

TEST_F(ThreadedCombCoordinator, EndingWhileMonitorsSleepIsPrompt) {
    Make(BrowserMonitor::kDefaultPeriod);
    UseWith(true, true, true);
    ASSERT_TRUE(waitUntil([&] { return table_.polls() >= 3; }));
    const auto start = std::chrono::steady_clock::now();
    coordinator_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST_F(ThreadedCombCoordinator, EndingDuringAManualRunStopsItAtTheNextEntry) {
    Make();
    for (int i = 0; i < 5000; ++i) {
        caches_.entries.push_back({"http://a/" + std::to_string(i), 1});
    }
    caches_.copyDelay = 1ms;  // five seconds and more for the whole run
    coordinator_->startComb(kMozilla);
    ASSERT_TRUE(waitUntil([&] { return caches_.CopiedInRun(0) >= 3; }));
    const auto start = std::chrono::steady_clock::now();
    coordinator_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_LT(runs[0].copied.size(), 5000u);
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    // The folder the run found was handed back.
    EXPECT_EQ(window_.Option(), "/found/cache");
}

TEST_F(ThreadedCombCoordinator, CancelStopsOnlyTheRunUnderWayWhichKeepsWhatItCopied) {
    Make();
    for (int i = 0; i < 2000; ++i) {
        caches_.entries.push_back({"http://a/" + std::to_string(i), 1});
    }
    caches_.copyDelay = 2ms;
    coordinator_->cancelRun();  // with no run under way: the next run is not touched
    coordinator_->startComb(kMozilla);
    // Kept, not only copied: copies made ahead of the cancel are dropped.
    ASSERT_TRUE(waitUntil([&] {
        const std::lock_guard<std::mutex> guard(window_.lock);
        return window_.kept.size() >= 3;
    }));
    coordinator_->cancelRun();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }, 2s));
    {
        const std::lock_guard<std::mutex> guard(window_.lock);
        ASSERT_EQ(window_.results.size(), 1u);
        const CombResult& cancelled = window_.results[0];
        EXPECT_TRUE(cancelled.stopped);
        EXPECT_GE(cancelled.kept, 3u);
        EXPECT_LT(cancelled.kept, 2000u);
        EXPECT_EQ(window_.kept.size(), cancelled.kept);
        EXPECT_EQ(window_.states, (std::vector<int32_t>{1, 0}));
    }
    EXPECT_TRUE(fs::exists(dir_ / "out" / "file0.all"));

    // A cancel while the cache is still being read stops the reading too:
    // nothing is combed.
    caches_.copyDelay = 0ms;
    caches_.readDelay = 2ms;
    coordinator_->startComb(kMozilla);
    ASSERT_TRUE(waitUntil([&] { return caches_.RunCount() == 2 && !caches_.InsideOpen(); }));
    std::this_thread::sleep_for(20ms);
    coordinator_->cancelRun();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }, 2s));
    EXPECT_EQ(caches_.CopiedInRun(1), 0u);

    // The next run combs all of its cache.
    caches_.readDelay = 0ms;
    caches_.entries.resize(10);
    coordinator_->startComb(kMozilla);
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }));
    const std::lock_guard<std::mutex> guard(window_.lock);
    ASSERT_EQ(window_.results.size(), 3u);
    EXPECT_TRUE(window_.results[1].stopped);
    EXPECT_EQ(window_.results[1].entriesCombed, 0u);
    EXPECT_FALSE(window_.results[2].stopped);
    EXPECT_EQ(window_.results[2].entriesCombed, 10u);
}

TEST_F(ThreadedCombCoordinator, AStopRequestReturnsAtOnceAndTheRunEndsWithoutTheCallerWaiting) {
    Make();
    UseWith(true, true, true);
    caches_.entries = {{"http://a/1", 1}};
    caches_.Hold();
    coordinator_->startComb(kIE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    EXPECT_TRUE(coordinator_->runsActive());

    // A front end whose callbacks need its own thread asks, serves, then waits.
    coordinator_->requestStop();
    EXPECT_TRUE(coordinator_->runsActive());
    for (const auto& monitor : coordinator_->monitors) {
        EXPECT_FALSE(monitor->running);
    }
    coordinator_->startComb(kMozilla);  // nothing starts any more
    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->runsActive(); }));
    coordinator_.reset();
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].copied.empty());
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
}

TEST_F(ThreadedCombCoordinator, EndingWhileAnAutomaticRunWaitsDropsIt) {
    Make();
    caches_.entries = {{"http://a/late", 2000000000}};
    ChildProcess firefox(dir_ / "bin", "firefox");
    UseWith(true, false, false);
    ASSERT_TRUE(waitUntil([&] { return coordinator_->monitors[0]->found.load(); }));
    caches_.Hold();
    coordinator_->startComb(kIE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->monitors[0]->found.load(); }));

    // The program ends while the manual run is held and the automatic one waits.
    CombCoordinator* main = coordinator_.get();
    std::thread ending([&] { coordinator_.reset(); });
    EXPECT_TRUE(waitUntil([&] { return !main->monitors[0]->running; }));
    caches_.Release();
    ending.join();

    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);  // the automatic run never began
    EXPECT_TRUE(runs[0].copied.empty());
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
}

TEST_F(ThreadedCombCoordinator, ARunKeepsExactlyWhatItsSnapshotAskedForWhileTheUserEdits) {
    // Two items: "/a/" entries to folder a, "/b/" entries to folder b. The
    // run's snapshot is taken before the reader opens (held there); then the
    // user deletes, reorders, reloads and edits items and flips the options
    // on another thread for as long as the run goes on.
    Make();
    filter_.clear();
    FilterItem* a = filter_.insertItem(nullptr, -1);
    a->url = "/a/";
    a->parseUrl(filter_);
    a->directoryTemplate = (dir_ / "a").string();
    a->stem = "a";
    FilterItem* b = filter_.insertItem(nullptr, -1);
    b->url = "/b/";
    b->parseUrl(filter_);
    b->directoryTemplate = (dir_ / "b").string();
    b->stem = "b";
    coordinator_->setFilter(filter_);
    const fs::path saved = dir_ / "set.flt";
    ASSERT_FALSE(filter_.saveFile(saved.string()));
    constexpr int kEntries = 1000;
    for (int i = 0; i < kEntries; ++i) {
        caches_.entries.push_back(
            {std::string("http://x/") + (i % 2 == 0 ? "a/" : "b/") + std::to_string(i), 1});
    }
    caches_.Hold();
    coordinator_->startComb(kIE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));

    std::atomic<bool> editing{true};
    std::thread user([&] {
        FilterSet edited;
        RunOptions options;
        for (int round = 0; editing; ++round) {
            edited.loadFile(saved.string(), 0);  // reload
            switch (round % 4) {
                case 0:
                    edited.removeItem(0);  // delete
                    break;
                case 1:
                    edited.moveItemDown(0);  // reorder
                    break;
                case 2:
                    edited.items[0]->directoryTemplate = (dir_ / "elsewhere").string();  // edit
                    edited.items[1]->url = "x";
                    edited.items[1]->parseUrl(edited);
                    break;
                default:
                    edited.clear();
                    break;
            }
            coordinator_->setFilter(edited);
            options.oneCopy = round % 2 == 0;
            options.skipDuplicates = round % 3 == 0;
            options.firefoxCacheFolder = "/typed/" + std::to_string(round);
            coordinator_->setOptions(options);
            // A user edits quickly, but not so fast that the run, on a
            // machine of two cores under ThreadSanitizer, never gets a turn.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return !coordinator_->busy; }, std::chrono::seconds(240)));
    editing = false;
    user.join();

    // Exactly the files the snapshot asked for: every "/a/" entry in a,
    // every "/b/" entry in b, nothing anywhere else.
    std::vector<std::string> inA;
    std::vector<std::string> inB;
    for (const auto& entry : fs::directory_iterator(dir_ / "a")) {
        inA.push_back(readFile(entry.path()));
    }
    for (const auto& entry : fs::directory_iterator(dir_ / "b")) {
        inB.push_back(readFile(entry.path()));
    }
    ASSERT_EQ(inA.size(), static_cast<std::size_t>(kEntries / 2));
    ASSERT_EQ(inB.size(), static_cast<std::size_t>(kEntries / 2));
    for (const std::string& url : inA) {
        EXPECT_NE(url.find("/a/"), std::string::npos) << url;
    }
    for (const std::string& url : inB) {
        EXPECT_NE(url.find("/b/"), std::string::npos) << url;
    }
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere"));
    EXPECT_FALSE(fs::exists(dir_ / "out"));
    const std::lock_guard<std::mutex> guard(window_.lock);
    ASSERT_EQ(window_.results.size(), 1u);
    EXPECT_EQ(window_.results[0].kept, static_cast<uint64_t>(kEntries));
}

}  // namespace

}  // namespace harvix
