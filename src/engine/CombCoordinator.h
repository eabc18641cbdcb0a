// CombCoordinator: the comb coordinator, the spine of the tray program and
// of `harvix-cli watch`.
//
// It owns one activity monitor per browser of the browser table, the run
// lock that serialises comb runs, and what the next run will comb: a copy of
// the filter items and of the options, handed over by the front end
// (setFilter, setOptions) whenever the user changes them. A run takes its
// own snapshot of these under the run lock when it starts, so the user may
// edit the filter set and the options freely while a run goes on; nothing
// else is shared between the user-interface thread and a comb thread.
//
// Runs start in two ways: manually (startComb, on a worker thread; refused
// while the browser runs) and automatically (a monitor saw its browser close:
// the run is queued and made on the coordinator's thread of automatic runs,
// combing the entries cached since the browser was first seen, while the
// monitor goes on watching). Both take `runLock` for the whole run, so runs
// never overlap. A run reports through the events interface (on the comb
// thread) and combs through combOnce.
//
// Ending the program while runs or monitors are active is safe: shutdown (run
// by the destructor at the latest) asks every thread to stop, wakes the
// sleeping monitors, lets a run in progress end at its next entry, drops the
// runs still queued, and waits for all of them before anything they use is
// destroyed. A front end whose events wait for its own thread asks first
// (requestStop) and serves its events until runsActive is false, so that
// this wait never waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/ErrorReport.h"
#include "engine/BrowserMonitor.h"
#include "engine/Browsers.h"
#include "engine/CombOnce.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

// The options a run reads, as the front end holds them.
struct RunOptions {
    bool oneCopy = true;
    bool skipDuplicates = true;
    // The Firefox cache folder of the options; empty: the run looks for it.
    std::string firefoxCacheFolder;
};

// What the coordinator tells the front end. Everything but browserRunning
// is called on a comb thread; each names the browser of its run.
class CoordinatorEvents {
public:
    virtual ~CoordinatorEvents() = default;
    // A run of `browser` started (true) or ended (false).
    virtual void runState(const BrowserRow& /*browser*/, bool /*started*/) {}
    // The share of the entries combed, 1..100, each time it changes.
    virtual void progress(int32_t /*percent*/) {}
    // After each entry: how many of the entries to comb are done, of how many.
    virtual void entryCombed(const BrowserRow& /*browser*/, uint64_t /*done*/, uint64_t /*total*/) {
    }
    // A copy of `entry` now stands under `path`.
    virtual void keptFile(const BrowserRow& /*browser*/, const CacheEntry& /*entry*/,
                          const std::string& /*path*/) {}
    // A matching entry could not be copied; `reason` groups such failures.
    virtual void copyFailed(const BrowserRow& /*browser*/, const CacheEntry& /*entry*/,
                            const std::string& /*reason*/) {}
    // A failure the user is to be told of: the cache cannot be opened, a
    // target folder fails the folder rule or lies in the cache, a file-name
    // stem cannot stand in a name.
    virtual void error(const BrowserRow& /*browser*/, const ErrorReport& /*report*/) {}
    // A run ended; `run` says what it did (the result: kept, duplicates, too
    // small, failed copies by reason; or why the cache could not be opened).
    virtual void runFinished(const BrowserRow& /*browser*/, const CombRun& /*run*/) {}
    // A run ended early on a fault no handler expected (`why`: its text);
    // called between the run's start and its end, instead of runFinished.
    virtual void runFailed(const BrowserRow& /*browser*/, const std::string& /*why*/) {}
    // A Firefox run found its cache folder itself. `startedWith` is the
    // folder option the run started from: the front end stores `found` only
    // when its option still reads `startedWith` (the user did not change it
    // meanwhile).
    virtual void cacheFolderFound(const std::string& /*startedWith*/,
                                  const std::string& /*found*/) {}
    // A manual comb was refused because `browser` runs (user-interface thread).
    virtual void browserRunning(const BrowserRow& /*browser*/) {}
};

class CombCoordinator {
public:
    // Makes each run's reader: the row's reader on the platform in the
    // program; tests put a reader of their own in its place. Set before runs
    // start.
    using ReaderFactory = std::function<std::unique_ptr<CacheReader>(
        const BrowserRow& browser, const std::string& cacheFolder)>;

    // `platform`: the readers', the monitors' and the runs' door to the
    // system (home folder, process table, clock). `monitorPeriod`: pause
    // between two polls of each monitor; the program keeps the default,
    // tests use a short one.
    CombCoordinator(IPlatform& platform, CoordinatorEvents& events,
                    uint32_t monitorPeriod = BrowserMonitor::kDefaultPeriod);
    // Shutdown.
    virtual ~CombCoordinator();
    CombCoordinator(const CombCoordinator&) = delete;
    CombCoordinator& operator=(const CombCoordinator&) = delete;

    // ---- What the next run combs (any thread; copied) ----
    void setFilter(const FilterSet& filter);
    void setOptions(const RunOptions& options);

    // A comb command of the main window: refuses (browserRunning) while the
    // browser, or one sharing its cache, runs; does nothing while a manual
    // run is under way; otherwise combs the whole cache on a worker thread.
    void startComb(const BrowserRow& browser);
    // Starts the monitor of each row of `watched`; a monitor that already
    // runs is left alone.
    void startMonitors(const std::vector<const BrowserRow*>& watched);
    // The run under way stops at its next entry; what it copied stays.
    void cancelRun();
    // Stops the monitors and every run and waits for their threads. Idempotent;
    // never call it from a comb thread (the events).
    void shutdown();
    // The first half of shutdown, without waiting.
    void requestStop();
    // True while a run is under way, waits for `runLock` or is queued, or a
    // manual run's thread has not yet finished.
    bool runsActive() const { return activeRuns_ > 0 || busy; }

    // One run over the cache of `browser`, entries from `sinceTime` on (0:
    // all), on the calling thread (a comb thread).
    void runComb(const BrowserRow& browser, int64_t sinceTime);

    // A manual run has been started and has not yet ended.
    std::atomic<bool> busy{false};
    // Activity monitors, in table order.
    std::vector<std::unique_ptr<BrowserMonitor>> monitors;
    // Held by every run from start to end.
    std::mutex runLock;
    ReaderFactory makeReader;

private:
    // A monitor saw `browser` close (on the monitor's thread): queues its run.
    void onBrowserClosed(const BrowserRow& browser, int64_t sinceTime);
    void automaticRuns();
    bool warnIfRunning(const BrowserRow& browser) const;

    IPlatform& platform_;
    CoordinatorEvents& events_;
    // What the next run combs; guarded by stateLock_.
    mutable std::mutex stateLock_;
    std::vector<FilterItem> filterItems_;
    char listSeparator_ = ',';
    RunOptions options_;

    std::atomic<bool> stopping_{false};
    // Stops the run under way (shutdown, or Cancel of the front end).
    std::atomic<bool> stopRun_{false};
    std::atomic<int> activeRuns_{0};
    std::thread worker_;
    const BrowserRow* manualBrowser_ = nullptr;

    // Automatic runs waiting for their turn: (browser, since time).
    std::mutex queueLock_;
    std::condition_variable queued_;
    std::deque<std::pair<const BrowserRow*, int64_t>> pending_;
    std::thread automatic_;
};

}  // namespace harvix
