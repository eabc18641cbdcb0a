// CombCoordinator: the comb coordinator, the spine of the tray program.
//
// It owns one activity monitor per browser of the browser table, the run
// lock that serialises comb runs, and what the next run will comb: a copy of
// the filter items and of the options, handed over by the front end
// (setFilter, setOptions) whenever the user changes them. A run takes its
// own snapshot of these under the run lock when it starts, so the user may
// edit the filter set and the options freely while a run goes on; nothing
// else is shared between the user-interface thread and a comb thread.
//
// A run can be cancelled (cancelRun); it keeps what it has copied.
//
// Runs start in two ways: manually (startComb, on a worker thread; refused
// while the browser runs) and automatically (a monitor saw its browser close;
// the monitor's own thread combs the entries cached since the browser was
// first seen). Both take `runLock` for the whole run, so runs never overlap.
// A run reports through the events interface (on the comb thread).
//
// Ending the program while runs or monitors are active is safe: shutdown (run
// by the destructor at the latest) asks every thread to stop, wakes the
// sleeping monitors, lets a run in progress end at its next entry, and waits
// for all of them before anything they use is destroyed. A front end whose
// events wait for its own thread asks first (requestStop) and serves its
// events until runsActive is false, so that this wait never waits for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/ErrorReport.h"
#include "engine/BrowserMonitor.h"
#include "engine/Browsers.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
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
// is called on a comb thread.
class CoordinatorEvents {
public:
    virtual ~CoordinatorEvents() = default;
    // A run started (true) or ended (false).
    virtual void runState(bool /*started*/) {}
    // The run that just started combs the cache of browser `kind`.
    virtual void runKind(int /*kind*/) {}
    virtual void progress(int32_t /*percent*/) {}
    // After each entry: how many of the entries to comb are done, of how many.
    virtual void entryCombed(uint64_t /*done*/, uint64_t /*total*/) {}
    virtual void keptFile(const std::string& /*path*/) {}
    // A failure the user is to be told of: the cache cannot be opened, a
    // target folder cannot be made or lies in the cache, a file-name stem
    // cannot stand in a name.
    virtual void error(const ErrorReport& /*report*/) {}
    // A run ended; `result` says what it did (failed copies by reason).
    virtual void runFinished(int /*kind*/, const CombResult& /*result*/) {}
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
    // Makes each run's reader: makeBrowserReader in the program; tests put a
    // reader of their own in its place. Set before runs start.
    using ReaderFactory =
        std::function<std::unique_ptr<CacheReader>(int kind, const std::string& cacheFolder)>;

    // `monitorPeriod`: pause between two polls of each monitor; the program
    // keeps the default, tests use a short one.
    explicit CombCoordinator(CoordinatorEvents& events,
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
    void startComb(int kind);
    // Starts the monitor of each browser whose `watch` flag (by table
    // index) is on; a monitor that already runs is left alone.
    void startMonitors(const std::vector<bool>& watch);
    // Stops the monitors and every run and waits for their threads. Idempotent;
    // never call it from a comb thread (the events).
    void shutdown();
    // The first half of shutdown, without waiting.
    void requestStop();
    // True while a run is under way or waits for `runLock`, or a manual run's
    // thread has not yet finished.
    bool runsActive() const { return activeRuns_ > 0 || busy; }

    // One run over the cache of `kind`, entries from `sinceTime` on (0: all),
    // on the calling thread (a comb thread).
    void runComb(int kind, int64_t sinceTime);
    // Cancels the run under way, manual or automatic (any thread): it stops
    // before its next entry (or its next cache record while it reads),
    // keeps what it copied and reports its result with `stopped` set. The
    // monitors go on watching; a run that starts later is not affected.
    void cancelRun();

    // A manual run has been started and has not yet ended.
    std::atomic<bool> busy{false};
    // Browser kind of the manual run.
    std::atomic<int> currentKind{0};
    // Activity monitors, index = browser kind.
    std::vector<std::unique_ptr<BrowserMonitor>> monitors;
    // Held by every run from start to end.
    std::mutex runLock;
    ReaderFactory makeReader;

private:
    static void onBrowserClosed(void* owner, int32_t kind, int64_t sinceTime);
    static void combThreadProc(CombCoordinator* coordinator);
    bool warnIfRunning(int kind) const;

    CoordinatorEvents& events_;
    // What the next run combs; guarded by stateLock_.
    mutable std::mutex stateLock_;
    std::vector<FilterItem> filterItems_;
    char listSeparator_ = ',';
    RunOptions options_;

    std::atomic<bool> stopping_{false};
    // The stop flag of the run under way: set by cancelRun and by
    // requestStop, cleared when a run starts.
    std::atomic<bool> runStop_{false};
    std::atomic<int> activeRuns_{0};
    std::thread worker_;
};

}  // namespace harvix
