// The browser activity monitor: whole-name matching, processes told by
// their executable, argv[0] and install, only the user's own processes, the
// since-time rules over a scripted process table, stopping and restarting,
// and real child processes whose names are browsers'.
//
// Suites whose names start with "Threaded" start monitor threads.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "engine/BrowserMonitor.h"
#include "engine/Browsers.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kFirefoxNames = {"firefox", "firefox-esr", "firefox-bin",
                                                "firefox.exe"};
const BrowserRow* const kMozilla = browserByWord("mozilla");
const BrowserRow* const kIE = browserByWord("ie");

ProcessInfo Listed(int64_t pid, const std::string& name, int64_t uid = -1) {
    ProcessInfo process;
    process.pid = pid;
    process.imageName = name;
    process.uid = uid;
    return process;
}

std::vector<ProcessInfo> Table(const std::vector<std::string>& names, int64_t uid = -1) {
    std::vector<ProcessInfo> table;
    int64_t pid = 100;
    for (const std::string& name : names) {
        table.push_back(Listed(pid++, name, uid));
    }
    return table;
}

// Records the browser-closed calls; can hold the calling thread inside the
// call, the way a long comb run does.
struct ClosedRecorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<const BrowserRow*, int64_t>> calls;  // (row, since time)
    bool holdInside = false;
    bool inside = false;
    std::function<void()> duringCall;

    BrowserMonitor::ClosedCallback Callback() {
        return [this](const BrowserRow& row, int64_t since) {
            std::unique_lock<std::mutex> guard(lock);
            calls.emplace_back(&row, since);
            inside = true;
            changed.notify_all();
            if (duringCall) {
                duringCall();
            }
            changed.wait(guard, [&] { return !holdInside; });
            inside = false;
        };
    }
    std::size_t Count() {
        const std::lock_guard<std::mutex> guard(lock);
        return calls.size();
    }
    bool Inside() {
        const std::lock_guard<std::mutex> guard(lock);
        return inside;
    }
    void Release() {
        const std::lock_guard<std::mutex> guard(lock);
        holdInside = false;
        changed.notify_all();
    }
};

// A process table that follows a script: poll n lists the names of row n;
// after the last row the last one repeats. Records which thread polled.
class ScriptedTable : public FakePlatform {
public:
    explicit ScriptedTable(std::vector<std::vector<std::string>> rows) : rows_(std::move(rows)) {}

    std::vector<ProcessInfo> listProcesses() override {
        const std::lock_guard<std::mutex> guard(lock_);
        const std::size_t row = std::min(pollers_.size(), rows_.size() - 1);
        // Thread ids may be reused once a thread ended; a thread-local serial is not.
        static std::atomic<int> threads{0};
        thread_local const int serial = ++threads;
        pollers_.push_back(serial);
        current = static_cast<int64_t>(pollers_.size());
        return Table(rows_[row], rowsUid);
    }
    int Polls() {
        const std::lock_guard<std::mutex> guard(lock_);
        return static_cast<int>(pollers_.size());
    }
    std::vector<int> Pollers() {
        const std::lock_guard<std::mutex> guard(lock_);
        return pollers_;
    }

    // The number of the poll under way (from 1): the clock of the monitors
    // in these tests, so that a since time names the poll that took it.
    static inline std::atomic<int64_t> current{0};
    int64_t currentTime() override { return current; }
    // The owner of every process listed.
    int64_t rowsUid = -1;

private:
    std::mutex lock_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<int> pollers_;  // serial of the polling thread, per poll
};

// A monitor over a scripted table, polling every millisecond.
class ThreadedBrowserMonitorScript : public ::testing::Test {
protected:
    void Use(std::vector<std::vector<std::string>> rows) {
        table_ = std::make_unique<ScriptedTable>(std::move(rows));
        ScriptedTable::current = 0;
        monitor_ = std::make_unique<BrowserMonitor>(*table_, 1);
    }
    bool StartFirefox() { return monitor_->start(*kMozilla, closed_.Callback()); }
    void TearDown() override {
        closed_.Release();
        monitor_.reset();  // joins before the table goes
    }

    ClosedRecorder closed_;
    std::unique_ptr<ScriptedTable> table_;
    std::unique_ptr<BrowserMonitor> monitor_;
};

TEST(BrowserMonitor, ImageNamesMatchWholeAndInAnyCase) {
    FakePlatform fake;
    BrowserMonitor check(fake);
    EXPECT_EQ(check.period, 2000u);

    fake.processes = Table({"bash", "FireFox"});
    EXPECT_TRUE(check.isRunning("firefox"));
    EXPECT_TRUE(check.found);
    EXPECT_TRUE(check.isRunning("FIREFOX"));  // the target is lower-cased too
    EXPECT_EQ(check.target, std::vector<std::string>{"firefox"});

    fake.processes = Table({"firefoxx", "my-firefox", "firefox.exe.old", "firefo", "firefox "});
    EXPECT_FALSE(check.isRunning("firefox"));
    EXPECT_FALSE(check.found);

    // Any of Firefox's image names counts as Firefox.
    for (const char* name : {"firefox-esr", "firefox-bin", "FIREFOX.EXE"}) {
        fake.processes = Table({"Xorg", name});
        EXPECT_TRUE(check.isRunning(kFirefoxNames)) << name;
    }
    fake.processes = Table({"iexplore.exe"});
    EXPECT_FALSE(check.isRunning(kFirefoxNames));
    EXPECT_TRUE(check.isRunning("iexplore.exe"));
    EXPECT_FALSE(check.isRunning("maxthon.exe"));

    // An unreadable process table lists nothing: nothing runs.
    fake.processes.clear();
    EXPECT_FALSE(check.isRunning(kFirefoxNames));
}

ProcessMatch MatchOf(const char* word) {
    return browserByWord(word)->processMatch();
}

ProcessInfo Process(const std::string& image, const std::string& executable,
                    const std::string& argv0, const std::string& packageId = {}) {
    ProcessInfo process = Listed(100, image);
    process.executable = executable;
    process.argv0 = argv0;
    process.packageId = packageId;
    return process;
}

// Processes as desktops show them, against the browser table's rows.
TEST(BrowserMonitor, ABrowserIsKnownByImageExecutableArgv0AndInstall) {
    const char* words[] = {"firefox", "chromium", "chrome", "opera", "ie"};
    const struct {
        ProcessInfo process;
        const char* browser;  // the one row it belongs to; null: none
    } cases[] = {
        // Mozilla's and Snap's Firefox name their main thread GeckoMain;
        // Thunderbird does the same.
        {Process("GeckoMain", "/usr/lib/firefox-esr/firefox-esr",
                 "/usr/lib/firefox-esr/firefox-esr"),
         "firefox"},
        {Process("GeckoMain", "/snap/firefox/4173/usr/lib/firefox/firefox", ""), "firefox"},
        {Process("GeckoMain", "", "/usr/lib/firefox/firefox"), "firefox"},
        {Process("GeckoMain", "/usr/lib/thunderbird/thunderbird", "thunderbird"), nullptr},
        // Fedora's chromium-browser, its image name cut at 15 bytes.
        {Process("chromium-browse", "", ""), "chromium"},
        {Process("chromium-browse", "/usr/lib64/chromium-browser/chromium-browser", ""),
         "chromium"},
        // Snap's and Flatpak's Chromium run a binary named chrome.
        {Process("chrome", "/snap/chromium/2345/usr/lib/chromium-browser/chrome",
                 "/snap/chromium/2345/usr/lib/chromium-browser/chrome"),
         "chromium"},
        {Process("chrome", "", "/snap/chromium/2345/usr/lib/chromium-browser/chrome"), "chromium"},
        {Process("chrome", "/app/chromium/chrome", "/app/chromium/chrome", "org.chromium.Chromium"),
         "chromium"},
        {Process("chrome", "/opt/google/chrome/chrome", "/usr/bin/google-chrome-stable"), "chrome"},
        {Process("chrome", "", ""), "chrome"},
        // A helper that rewrote its command line into one line.
        {Process("chrome", "/opt/google/chrome/chrome",
                 "/opt/google/chrome/chrome --type=renderer --user-data-dir=/home/u/opera"),
         "chrome"},
        // Wine shows a Windows program's argv[0] as a Windows path.
        {Process("wine64-preloader", "/usr/lib/wine/wine64-preloader",
                 "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"),
         "ie"},
        {Process("bash", "/usr/bin/bash", "/home/u/bin/firefox-wrapper"), nullptr},
        {Process("helper", "/snap/chromium-ffmpeg/12/helper", ""), nullptr},
    };
    for (const auto& c : cases) {
        for (const char* word : words) {
            const bool expected = c.browser != nullptr && std::string(c.browser) == word;
            EXPECT_EQ(MatchOf(word).matches(c.process), expected)
                << word << " for " << c.process.imageName << " " << c.process.executable << " "
                << c.process.argv0;
        }
    }
}

// Another user's browser neither holds back this user's comb nor starts one.
TEST(BrowserMonitor, OnlyTheUsersOwnProcessesCount) {
    FakePlatform fake;
    BrowserMonitor check(fake);
    fake.userId = 1000;
    fake.processes = {Listed(7, "firefox", 1001)};
    EXPECT_FALSE(check.isRunning(kFirefoxNames));
    fake.processes.push_back(Listed(8, "firefox", -1));  // ended while listed
    EXPECT_FALSE(check.isRunning(kFirefoxNames));
    fake.processes.push_back(Listed(9, "firefox", 1000));
    EXPECT_TRUE(check.isRunning(kFirefoxNames));
    // A system that tells no user ids: every process counts.
    fake.userId = -1;
    fake.processes = {Listed(7, "firefox", 1001)};
    EXPECT_TRUE(check.isRunning(kFirefoxNames));
}

TEST_F(ThreadedBrowserMonitorScript, OpenAtStartThenClosedGivesOneRunSinceTheFirstPoll) {
    Use({{"firefox"}, {"firefox"}, {"firefox"}, {"bash"}});
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return closed_.Count() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() >= 10; }));
    ASSERT_EQ(closed_.Count(), 1u);
    EXPECT_EQ(closed_.calls[0], std::make_pair(kMozilla, int64_t{1}));
    EXPECT_FALSE(monitor_->found);
}

TEST_F(ThreadedBrowserMonitorScript, EachAppearanceKeepsTheSinceTimeOfItsFirstPoll) {
    // Closed, then open for three polls (the second instance ending in poll
    // 4 changes nothing), closed, open again for one poll, closed for good.
    Use({{},
         {"bash", "firefox"},
         {"firefox", "firefox-esr"},
         {"firefox"},
         {},
         {},
         {"FIREFOX-BIN"},
         {}});
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() >= 12 && closed_.Count() == 2; }));
    EXPECT_EQ(closed_.calls[0], std::make_pair(kMozilla, int64_t{2}));
    EXPECT_EQ(closed_.calls[1], std::make_pair(kMozilla, int64_t{7}));
}

TEST_F(ThreadedBrowserMonitorScript, AnotherUsersBrowserClosingCausesNoRun) {
    Use({{"firefox"}, {"firefox"}, {}});
    table_->userId = 1000;
    table_->rowsUid = 1001;
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() >= 10; }));
    EXPECT_EQ(closed_.Count(), 0u);
}

TEST_F(ThreadedBrowserMonitorScript, ABrowserNeverSeenCausesNoRun) {
    Use({{"firefoxx", "xfirefox"}, {}, {"firefox.exe.part"}, {}});
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() >= 10; }));
    EXPECT_EQ(closed_.Count(), 0u);
}

TEST_F(ThreadedBrowserMonitorScript, StartingAMonitorThatRunsReturnsFalseAndChangesNothing) {
    Use({{}});
    ASSERT_TRUE(StartFirefox());
    EXPECT_FALSE(monitor_->start(*kIE, closed_.Callback()));
    EXPECT_EQ(monitor_->target, kFirefoxNames);
    EXPECT_EQ(monitor_->browser, kMozilla);
    EXPECT_TRUE(monitor_->running);
}

TEST_F(ThreadedBrowserMonitorScript, ClearedRunningLetsThePollAndItsRunFinishThenEnds) {
    Use({{"firefox"}, {}});
    // The main window stops a monitor by clearing its flag; here that
    // happens while the run of poll 2 is under way.
    closed_.duringCall = [&] { monitor_->running = false; };
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return closed_.Count() == 1; }));
    std::this_thread::sleep_for(30ms);  // thirty periods: time for polls that must not come
    EXPECT_EQ(table_->Polls(), 2);
    EXPECT_EQ(closed_.Count(), 1u);
}

TEST_F(ThreadedBrowserMonitorScript, RestartDuringARunWaitsForTheOldThread) {
    Use({{"firefox"}, {}, {}});
    closed_.holdInside = true;
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return closed_.Inside(); }));

    // Stopped and started again while the old thread is still in its run:
    // Start returns at once, and nothing polls until the run has ended.
    monitor_->stop();
    ASSERT_TRUE(StartFirefox());
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(table_->Polls(), 2);
    closed_.Release();
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() >= 6; }));

    // And again while the thread sleeps between polls.
    monitor_->stop();
    ASSERT_TRUE(StartFirefox());
    const int polls = table_->Polls();
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() >= polls + 5; }));
    monitor_.reset();

    // Three threads polled one after the other, never in turns.
    const std::vector<int> pollers = table_->Pollers();
    std::set<int> ended;
    for (std::size_t i = 1; i < pollers.size(); ++i) {
        if (pollers[i] != pollers[i - 1]) {
            ended.insert(pollers[i - 1]);
        }
        EXPECT_EQ(ended.count(pollers[i]), 0u) << "poll " << i << " by a thread that had ended";
    }
    EXPECT_EQ(ended.size(), 2u);
    EXPECT_EQ(closed_.Count(), 1u);
}

TEST_F(ThreadedBrowserMonitorScript, StopWakesASleepingMonitorAtOnce) {
    Use({{}});
    monitor_ = std::make_unique<BrowserMonitor>(*table_, 60000);
    ASSERT_TRUE(StartFirefox());
    ASSERT_TRUE(waitUntil([&] { return table_->Polls() == 1; }));
    const auto before = std::chrono::steady_clock::now();
    monitor_.reset();  // stops and joins
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

// Monitors over real child processes named like browsers.
class ThreadedBrowserMonitorProcesses : public ::testing::Test {
protected:
    TempDir dir_;
    ChildProcessTable table_;
    ClosedRecorder closed_;
};

TEST_F(ThreadedBrowserMonitorProcesses, SeesABrowserAndItsEndStartsOneRunSinceItWasSeen) {
    const int64_t before = table_.currentTime();
    ChildProcess firefox(dir_.path(), "firefox");
    BrowserMonitor monitor(table_, 5);
    ASSERT_TRUE(monitor.start(*kMozilla, closed_.Callback()));
    ASSERT_TRUE(waitUntil([&] { return monitor.found.load(); }));
    const int64_t seen = table_.currentTime();
    EXPECT_EQ(closed_.Count(), 0u);

    firefox.End();
    ASSERT_TRUE(waitUntil([&] { return closed_.Count() == 1; }));
    ASSERT_TRUE(table_.waitForMorePolls(3));
    ASSERT_EQ(closed_.Count(), 1u);
    EXPECT_EQ(closed_.calls[0].first, kMozilla);
    EXPECT_GE(closed_.calls[0].second, before);
    EXPECT_LE(closed_.calls[0].second, seen);
    EXPECT_FALSE(monitor.found);
}

TEST_F(ThreadedBrowserMonitorProcesses, TwoInstancesGiveOneRunWhenTheLastEnds) {
    ChildProcess first(dir_.path(), "iexplore.exe");
    ChildProcess second(dir_.path(), "iexplore.exe");
    BrowserMonitor monitor(table_, 5);
    ASSERT_TRUE(monitor.start(*kIE, closed_.Callback()));
    ASSERT_TRUE(waitUntil([&] { return monitor.found.load(); }));

    first.End();
    ASSERT_TRUE(table_.waitForMorePolls(3));
    EXPECT_EQ(closed_.Count(), 0u);
    EXPECT_TRUE(monitor.found);

    second.End();
    ASSERT_TRUE(waitUntil([&] { return closed_.Count() == 1; }));
    ASSERT_TRUE(table_.waitForMorePolls(3));
    EXPECT_EQ(closed_.Count(), 1u);
    EXPECT_EQ(closed_.calls[0].first, kIE);
}

TEST_F(ThreadedBrowserMonitorProcesses, UpperCaseImageNameCountsALongerOneDoesNot) {
    BrowserMonitor check(table_);
    ChildProcess longer(dir_.path(), "firefoxx");
    EXPECT_FALSE(check.isRunning(kFirefoxNames));
    ChildProcess upper(dir_.path(), "FIREFOX");
    EXPECT_TRUE(check.isRunning(kFirefoxNames));
    upper.End();
    EXPECT_FALSE(check.isRunning(kFirefoxNames));
    ChildProcess esr(dir_.path(), "firefox-esr");
    EXPECT_TRUE(check.isRunning(kFirefoxNames));
}

TEST_F(ThreadedBrowserMonitorProcesses, GeckoMainAndSnapChromiumAreToldByTheirProgramPath) {
    BrowserMonitor check(table_);
    {
        ChildProcess gecko(dir_.path(), "GeckoMain", 30, "/usr/lib/firefox/firefox");
        EXPECT_TRUE(check.isRunning(MatchOf("firefox")));
    }
    EXPECT_FALSE(check.isRunning(MatchOf("firefox")));
    ChildProcess snap(dir_ / "snap", "chrome", 30,
                      "/snap/chromium/2345/usr/lib/chromium-browser/chrome");
    EXPECT_TRUE(check.isRunning(MatchOf("chromium")));
    EXPECT_FALSE(check.isRunning(MatchOf("chrome")));
}

TEST(BrowserMonitorProcessTable, TheSystemTableShowsAChildUnderItsImageName) {
    TempDir dir;
    BrowserMonitor check(nativePlatform());
    ChildProcess child(dir.path(), "maxthon.exe");
    EXPECT_TRUE(check.isRunning("MAXTHON.EXE"));
}

}  // namespace

}  // namespace harvix
