// The comb coordinator: the settings it loads and saves, the browser table,
// the close-the-browser messages, manual and automatic runs over a reader of
// the test's own, the run lock, and ending the program while threads work.
//
// Suites whose names start with "Threaded" start comb or monitor threads.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/LanguageTexts.h"
#include "app/Profile.h"
#include "app/Settings.h"
#include "engine/CombCoordinator.h"
#include "engine/ErrorReport.h"
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
        int32_t kind = -1;
        std::string folderGiven;  // the cache folder the coordinator handed over
        std::vector<std::string> copied;
        bool closed = false;
    };

    std::vector<FakeEntry> entries;
    std::string discoveredFolder = "/found/cache";
    bool failOpen = false;
    std::chrono::microseconds copyDelay{0};

    std::unique_ptr<CacheReader> Make(int32_t kind, const std::string& folder);

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
            throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen, cacheFolder);
        }
    }
    void readEntries() override {
        for (const FakeEntry& source : caches_.entries) {
            auto entry = std::make_unique<CacheEntry>();
            entry->url = source.url;
            entry->time = source.time;
            entry->size = static_cast<int32_t>(source.url.size());
            entries.push_back(std::move(entry));
        }
    }
    bool copyEntryData(CacheEntry& entry, const fs::path& target, bool) override {
        if (caches_.copyDelay.count() > 0) {
            std::this_thread::sleep_for(caches_.copyDelay);
        }
        writeFile(target, entry.url);
        const std::lock_guard<std::mutex> guard(caches_.lock_);
        caches_.runs_[run_].copied.push_back(entry.url);
        return true;
    }
    void close() override {
        const std::lock_guard<std::mutex> guard(caches_.lock_);
        caches_.runs_[run_].closed = true;
    }

private:
    FakeCaches& caches_;
    std::size_t run_;
};

std::unique_ptr<CacheReader> FakeCaches::Make(int32_t kind, const std::string& folder) {
    std::size_t run = 0;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        runs_.push_back(Run{kind, folder, {}, false});
        run = runs_.size() - 1;
    }
    auto reader = std::make_unique<Reader>(*this, run);
    reader->cacheFolder = folder;
    return reader;
}

// The run-state and progress callbacks: what came, on which thread.
struct WindowSide {
    std::mutex lock;
    std::vector<int32_t> states;
    std::vector<int32_t> percents;
    std::vector<std::thread::id> threads;

    static void onRunState(void* context, int32_t started) {
        auto* self = static_cast<WindowSide*>(context);
        const std::lock_guard<std::mutex> guard(self->lock);
        self->states.push_back(started);
        self->threads.push_back(std::this_thread::get_id());
    }
    static void onProgress(void* context, int32_t percent) {
        auto* self = static_cast<WindowSide*>(context);
        const std::lock_guard<std::mutex> guard(self->lock);
        self->percents.push_back(percent);
    }
    std::vector<int32_t> States() {
        const std::lock_guard<std::mutex> guard(lock);
        return states;
    }
};

// A coordinator over a fake platform (program folder and settings in a
// temporary folder; the process table holds this test's children only) and
// the readers above. The filter set has one item that keeps every entry.
class CoordinatorTest : public ::testing::Test {
protected:
    CoordinatorTest() : scoped_(table_), savedSettings_(theSettings()), savedTexts_(theLanguage()) {
        table_.exePath = dir_ / "prog" / "harvix";
        fs::create_directories(dir_ / "prog");
    }
    ~CoordinatorTest() override {
        caches_.Release();
        main_.reset();
        theSettings() = savedSettings_;
        theLanguage() = savedTexts_;
    }

    void Make(
        CombCoordinator::SettingsFile settingsFile = CombCoordinator::SettingsFile::InitAndSave,
        uint32_t period = 5) {
        main_ = std::make_unique<CombCoordinator>(settingsFile, period);
        main_->makeReader = [this](int32_t kind, const std::string& folder) {
            return caches_.Make(kind, folder);
        };
        main_->runStateCallback = &WindowSide::onRunState;
        main_->runStateContext = &window_;
        main_->progressCallback = &WindowSide::onProgress;
        main_->progressContext = &window_;
        FilterItem* item = main_->filter.insertItem(nullptr, -1);
        item->directoryTemplate = (dir_ / "out").string();
        item->fileNameDummy = "file";
    }
    // Watch only the browsers named.
    static void UseWith(bool mozilla, bool ie, bool maxthon) {
        theSettings().Mozilla = mozilla;
        theSettings().IE = ie;
        theSettings().Maxthon = maxthon;
    }
    fs::path Cfg() const { return dir_ / "prog" / "Harvix.cfg"; }
    std::size_t Messages() const { return notifier_.notifier.messages.size(); }

    TempDir dir_;
    ChildProcessTable table_;
    ScopedPlatform scoped_;
    ScopedRecordingNotifier notifier_;
    Settings savedSettings_;
    LanguageTexts savedTexts_;
    FakeCaches caches_;
    WindowSide window_;
    std::unique_ptr<CombCoordinator> main_;
};

using Coordinator = CoordinatorTest;
using ThreadedCombCoordinator = CoordinatorTest;

const std::string kCloseText = "has to be closed. Please, close the browser and try again.";

TEST_F(Coordinator, ConstructionRunsTheSettingsStartUpAndDestructionSavesThem) {
    writeFile(Cfg(), "[GENERAL]\nMozillaCachePath=/old/cache\nOneCopy=0\n");
    Make();
    EXPECT_EQ(theSettings().MozillaCachePath, "/old/cache");
    EXPECT_FALSE(theSettings().OneCopy);
    EXPECT_EQ(table_.autostartCalls.size(), 2u);
    EXPECT_EQ(ProfileFile::load(Cfg()).get("GENERAL", "SkipDuplicates"), "1");

    theSettings().MozillaCachePath = "/new/cache";
    main_.reset();
    EXPECT_EQ(ProfileFile::load(Cfg()).get("GENERAL", "MozillaCachePath"), "/new/cache");
}

TEST_F(Coordinator, SettingsAsLoadedAreNeverWritten) {
    Make(CombCoordinator::SettingsFile::AsLoaded);
    theSettings().MozillaCachePath = "/somewhere";
    main_.reset();
    EXPECT_FALSE(fs::exists(Cfg()));
    EXPECT_TRUE(table_.autostartCalls.empty());
}

TEST_F(Coordinator, BrowserTableAndUnknownKinds) {
    Make(CombCoordinator::SettingsFile::AsLoaded);
    EXPECT_EQ(main_->browser(0).displayName, "Mozilla Firefox");
    EXPECT_EQ(main_->browser(0).processName,
              (std::vector<std::string>{"firefox", "firefox-esr", "firefox-bin", "firefox.exe"}));
    EXPECT_EQ(main_->browser(1).displayName, "Microsoft Internet Explorer");
    EXPECT_EQ(main_->browser(1).processName, std::vector<std::string>{"iexplore.exe"});
    EXPECT_EQ(main_->browser(2).displayName, "Maxthon");
    EXPECT_EQ(main_->browser(2).processName, std::vector<std::string>{"maxthon.exe"});
    EXPECT_TRUE(main_->browser(3).displayName.empty());
    EXPECT_TRUE(main_->browser(-1).processName.empty());

    // Any other kind does nothing: no thread, no reader, no callback.
    main_->startComb(3);
    EXPECT_FALSE(main_->busy);
    main_->runComb(-1, 0);
    EXPECT_EQ(caches_.RunCount(), 0u);
    EXPECT_TRUE(window_.States().empty());
}

TEST_F(Coordinator, AFirefoxCacheThatCannotBeOpenedShowsOneBoxAndStillReportsTheRun) {
    Make(CombCoordinator::SettingsFile::AsLoaded);
    caches_.entries = {{"http://a/1", 5}};
    caches_.failOpen = true;
    main_->runComb(CombCoordinator::Mozilla, 0);
    ASSERT_EQ(Messages(), 1u);
    EXPECT_EQ(notifier_.notifier.messages[0].text.rfind("MozillaCache: \n", 0), 0u);
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    ASSERT_EQ(caches_.RunCount(), 1u);
    EXPECT_TRUE(caches_.Runs()[0].copied.empty());
    // The folder the reader looked in is remembered even so.
    EXPECT_EQ(theSettings().MozillaCachePath, "/found/cache");
}

TEST_F(Coordinator, ATargetFolderThatCannotBeMadeEndsThePassWithOneBox) {
    Make(CombCoordinator::SettingsFile::AsLoaded);
    caches_.entries = {{"http://a/1", 5}, {"http://a/2", 6}};
    main_->filter.items[0]->directoryTemplate = "relative/folder";
    main_->runComb(CombCoordinator::IE, 0);
    ASSERT_EQ(Messages(), 1u);
    EXPECT_EQ(notifier_.notifier.messages[0].text.rfind("FilterCache: \n", 0), 0u);
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
        main_->startComb(CombCoordinator::Mozilla);
        ASSERT_EQ(Messages(), 1u);
        EXPECT_EQ(notifier_.notifier.messages[0].text, "Mozilla Firefox " + kCloseText);
        EXPECT_EQ(notifier_.notifier.messages[0].buttons, MessageButtons::Ok);
    }
    {
        // Internet Explorer is closed, but Maxthon shares its cache.
        ChildProcess maxthon(dir_ / "bin", "maxthon.exe");
        main_->startComb(CombCoordinator::IE);
        ASSERT_EQ(Messages(), 2u);
        EXPECT_EQ(notifier_.notifier.messages[1].text, "Maxthon " + kCloseText);
    }
    {
        ChildProcess ie(dir_ / "bin", "iexplore.exe");
        main_->startComb(CombCoordinator::Maxthon);
        ASSERT_EQ(Messages(), 3u);
        EXPECT_EQ(notifier_.notifier.messages[2].text, "Microsoft Internet Explorer " + kCloseText);
    }
    EXPECT_FALSE(main_->busy);
    main_.reset();
    EXPECT_EQ(caches_.RunCount(), 0u);
}

TEST_F(ThreadedCombCoordinator, AManualRunCombsEveryEntryOnAWorkerAndRemembersTheCacheFolder) {
    Make();
    caches_.entries = {{"http://a/old", 1}, {"http://a/new", 2000000000}, {"http://a/3", 7}};
    main_->startComb(CombCoordinator::Mozilla);
    ASSERT_TRUE(waitUntil([&] { return !main_->busy; }));

    auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].kind, CombCoordinator::Mozilla);
    EXPECT_EQ(runs[0].folderGiven, "");
    EXPECT_EQ(runs[0].copied,
              (std::vector<std::string>{"http://a/old", "http://a/new", "http://a/3"}));
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(readFile(dir_ / "out" / "file0.all"), "http://a/old");
    EXPECT_EQ(theSettings().MozillaCachePath, "/found/cache");
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
    main_->startComb(CombCoordinator::Mozilla);
    ASSERT_TRUE(waitUntil([&] { return !main_->busy; }));
    runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].folderGiven, "/found/cache");
}

TEST_F(ThreadedCombCoordinator, ASecondCombCommandDuringAManualRunDoesNothing) {
    Make();
    caches_.Hold();
    main_->startComb(CombCoordinator::Mozilla);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    main_->startComb(CombCoordinator::IE);
    main_->startComb(CombCoordinator::Mozilla);
    EXPECT_EQ(Messages(), 0u);
    EXPECT_TRUE(main_->busy);
    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return !main_->busy; }));
    EXPECT_EQ(caches_.RunCount(), 1u);
    EXPECT_EQ(caches_.Runs()[0].kind, CombCoordinator::Mozilla);
}

TEST_F(ThreadedCombCoordinator, ABrowserClosingStartsOneAutomaticRunOverWhatItCachedMeanwhile) {
    Make();
    UseWith(true, false, false);
    const int64_t before = BrowserMonitor::systemSeconds();
    ChildProcess firefox(dir_ / "bin", "firefox");
    main_->startMonitors();
    ASSERT_TRUE(waitUntil([&] { return main_->monitors[0].found.load(); }));
    const int64_t seen = BrowserMonitor::systemSeconds();
    EXPECT_FALSE(main_->monitors[1].running);
    EXPECT_FALSE(main_->monitors[2].running);
    // Entries older than the browser's start stay; one cached while it ran is kept.
    caches_.entries = {{"http://a/before", before - 1}, {"http://a/while", seen}};
    EXPECT_EQ(caches_.RunCount(), 0u);

    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 2; }));
    ASSERT_TRUE(table_.waitForMorePolls(3));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].kind, CombCoordinator::Mozilla);
    EXPECT_EQ(runs[0].copied, std::vector<std::string>{"http://a/while"});
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    EXPECT_FALSE(main_->busy);
}

TEST_F(ThreadedCombCoordinator, ManualAndAutomaticRunsTakeTurnsOnTheRunLock) {
    Make();
    UseWith(true, false, false);
    const int64_t before = BrowserMonitor::systemSeconds();
    caches_.entries = {{"http://a/before", before - 1}, {"http://a/late", 2000000000}};
    ChildProcess firefox(dir_ / "bin", "firefox");
    main_->startMonitors();
    ASSERT_TRUE(waitUntil([&] { return main_->monitors[0].found.load(); }));

    // A manual run of the other cache holds the lock...
    caches_.Hold();
    main_->startComb(CombCoordinator::IE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    // ...when Firefox closes: its automatic run waits.
    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return !main_->monitors[0].found; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(caches_.RunCount(), 1u);
    EXPECT_EQ(window_.States(), std::vector<int32_t>{1});

    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 4; }));
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0, 1, 0}));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].kind, CombCoordinator::IE);
    EXPECT_EQ(runs[0].copied.size(), 2u);
    EXPECT_EQ(runs[1].kind, CombCoordinator::Mozilla);
    EXPECT_EQ(runs[1].copied, std::vector<std::string>{"http://a/late"});
    EXPECT_EQ(caches_.MostAlive(), 1);
    EXPECT_TRUE(waitUntil([&] { return !main_->busy; }));
}

TEST_F(ThreadedCombCoordinator, InternetExplorerAndMaxthonClosingGiveOneRunEach) {
    Make();
    UseWith(false, true, true);
    caches_.entries = {{"http://a/late", 2000000000}};
    auto ie = std::make_unique<ChildProcess>(dir_ / "bin", "iexplore.exe");
    auto maxthon = std::make_unique<ChildProcess>(dir_ / "bin", "MAXTHON.EXE");
    main_->startMonitors();
    ASSERT_TRUE(waitUntil(
        [&] { return main_->monitors[1].found.load() && main_->monitors[2].found.load(); }));
    ie.reset();
    maxthon.reset();
    ASSERT_TRUE(waitUntil([&] { return window_.States().size() == 4; }));
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].kind + runs[1].kind, CombCoordinator::IE + CombCoordinator::Maxthon);
    EXPECT_EQ(caches_.MostAlive(), 1);
}

TEST_F(ThreadedCombCoordinator, EndingWhileMonitorsSleepIsPromptAndSavesTheSettings) {
    Make(CombCoordinator::SettingsFile::InitAndSave, BrowserMonitor::kDefaultPeriod);
    UseWith(true, true, true);
    main_->startMonitors();
    ASSERT_TRUE(waitUntil([&] { return table_.polls() >= 3; }));
    theSettings().MozillaCachePath = "/kept/at/exit";
    const auto start = std::chrono::steady_clock::now();
    main_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(ProfileFile::load(Cfg()).get("GENERAL", "MozillaCachePath"), "/kept/at/exit");
}

TEST_F(ThreadedCombCoordinator, EndingDuringAManualRunStopsItAtTheNextEntry) {
    Make();
    for (int i = 0; i < 5000; ++i) {
        caches_.entries.push_back({"http://a/" + std::to_string(i), 1});
    }
    caches_.copyDelay = 1ms;  // five seconds and more for the whole run
    main_->startComb(CombCoordinator::Mozilla);
    ASSERT_TRUE(waitUntil([&] { return caches_.CopiedInRun(0) >= 3; }));
    const auto start = std::chrono::steady_clock::now();
    main_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_LT(runs[0].copied.size(), 5000u);
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
    // The folder the run found reached the settings file.
    EXPECT_EQ(ProfileFile::load(Cfg()).get("GENERAL", "MozillaCachePath"), "/found/cache");
}

TEST_F(ThreadedCombCoordinator, AStopRequestReturnsAtOnceAndTheRunEndsWithoutTheCallerWaiting) {
    Make();
    UseWith(true, true, true);
    caches_.entries = {{"http://a/1", 1}};
    main_->startMonitors();
    caches_.Hold();
    main_->startComb(CombCoordinator::IE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    EXPECT_TRUE(main_->runsActive());

    // A front end whose callbacks need its own thread asks, serves, then waits.
    main_->requestStop();
    EXPECT_TRUE(main_->runsActive());
    for (const BrowserMonitor& monitor : main_->monitors) {
        EXPECT_FALSE(monitor.running);
    }
    main_->startComb(CombCoordinator::Mozilla);  // nothing starts any more
    caches_.Release();
    ASSERT_TRUE(waitUntil([&] { return !main_->runsActive(); }));
    main_.reset();
    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].copied.empty());
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
}

TEST_F(ThreadedCombCoordinator, EndingWhileAnAutomaticRunWaitsDropsIt) {
    Make();
    UseWith(true, false, false);
    caches_.entries = {{"http://a/late", 2000000000}};
    ChildProcess firefox(dir_ / "bin", "firefox");
    main_->startMonitors();
    ASSERT_TRUE(waitUntil([&] { return main_->monitors[0].found.load(); }));
    caches_.Hold();
    main_->startComb(CombCoordinator::IE);
    ASSERT_TRUE(waitUntil([&] { return caches_.InsideOpen(); }));
    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return !main_->monitors[0].found; }));

    // The program ends while the manual run is held and the automatic one waits.
    CombCoordinator* main = main_.get();
    std::thread ending([&] { main_.reset(); });
    EXPECT_TRUE(waitUntil([&] { return !main->monitors[0].running; }));
    caches_.Release();
    ending.join();

    const auto runs = caches_.Runs();
    ASSERT_EQ(runs.size(), 1u);  // the automatic run never began
    EXPECT_TRUE(runs[0].copied.empty());
    EXPECT_TRUE(runs[0].closed);
    EXPECT_EQ(window_.States(), (std::vector<int32_t>{1, 0}));
}

}  // namespace

}  // namespace harvix
