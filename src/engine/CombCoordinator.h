// CombCoordinator: the comb coordinator, the spine of the program.
//
// It owns the table of the three browsers, one activity monitor per browser,
// the one filter set of the program, the run lock that serialises comb runs,
// and the two callbacks through which it tells the main window that a run
// started, ended or progressed. A comb run creates the reader of one
// browser's cache, opens and loads it, and hands it to the filter set, whose
// pass copies the matching entries into their target folders.
//
// Runs start in two ways: manually (StartComb, on a worker thread; refused
// while the browser runs) and automatically (a monitor saw its browser close;
// the monitor's own thread combs the entries cached since the browser was
// first seen). Both take `runLock` for the whole run, so runs never overlap.
//
// Ending the program while runs or monitors are active is safe: shutdown (run
// by the destructor at the latest) asks every thread to stop, wakes the
// sleeping monitors, lets a run in progress end at its next entry, and waits
// for all of them before anything they use is destroyed; the settings are
// written after that, so a cache folder found by the last run is kept. A
// front end whose callbacks wait for its own thread asks first (RequestStop)
// and serves its events until RunsActive is false, so that this wait never
// waits for it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/BrowserMonitor.h"
#include "filter/FilterSet.h"
#include "readers/CacheReader.h"

namespace harvix {

// One row of the browser table.
struct BrowserInfo {
    std::string displayName;               // "Mozilla Firefox"
    std::vector<std::string> processName;  // image names it runs under, lower case; any counts
};

class CombCoordinator {
public:
    // Browser kinds; kinds IE and Maxthon comb the same URL cache.
    enum BrowserKind : int32_t { Mozilla = 0, IE = 1, Maxthon = 2 };
    static constexpr int32_t kBrowserKinds = 3;

    // Tells the main window that a run started (1) or ended (0).
    using RunStateCallback = void (*)(void* context, int32_t started);
    // Progress of the filter's pass, 0 to 100.
    using ProgressCallback = void (*)(void* context, int32_t percent);
    // Makes the reader of one browser's cache (the Firefox cache folder, or
    // empty to let the reader find its cache).
    using ReaderFactory =
        std::function<std::unique_ptr<CacheReader>(int32_t kind, const std::string& cacheFolder)>;

    // What the coordinator does with the settings file.
    enum class SettingsFile {
        // The tray program: the constructor runs the settings initialisation
        // (paths, settings file, autostart entry, language file) and the
        // destructor writes the settings back.
        InitAndSave,
        // The caller has read the settings (harvix-cli); they are never written.
        AsLoaded,
    };

    // `monitorPeriod`: pause between two polls of each monitor; the program
    // keeps the default, tests use a short one.
    explicit CombCoordinator(SettingsFile settingsFile = SettingsFile::InitAndSave,
                             uint32_t monitorPeriod = BrowserMonitor::kDefaultPeriod);
    // Shutdown, then (InitAndSave) writes the settings file.
    virtual ~CombCoordinator();
    CombCoordinator(const CombCoordinator&) = delete;
    CombCoordinator& operator=(const CombCoordinator&) = delete;

    // A comb command of the main window: refuses with a message while the
    // browser (or the one sharing its cache) runs, does nothing while a
    // manual run is under way, otherwise combs the whole cache on a worker
    // thread. Called on the user-interface thread.
    void startComb(int32_t kind);
    // Starts the monitor of each browser whose use-with setting is on; a
    // monitor that already runs is left alone.
    void startMonitors();
    // Stops the monitors and every run and waits for their threads: a
    // sleeping monitor wakes at once, a run in progress ends at its next
    // entry, a run still waiting for `runLock` is dropped. Afterwards nothing
    // starts any more. Callbacks may still be called until it returns, so the
    // main window calls it while its windows exist. Idempotent; never call it
    // from a comb thread (the callbacks).
    void shutdown();
    // The first half of Shutdown, without waiting: nothing starts any more,
    // the monitors are told to stop, a run under way ends at its next entry.
    // A front end whose callbacks (or message boxes) wait for its own thread
    // calls this, keeps serving its events while RunsActive, and only then
    // Shutdown, which then waits for nothing that needs it.
    void requestStop();
    // True while a run is under way or waits for `runLock`, or a manual run's
    // thread has not yet finished.
    bool runsActive() const { return activeRuns_ > 0 || busy; }

    // The table row of `kind`; empty strings for a kind outside 0..2.
    const BrowserInfo& browser(int32_t kind) const;

    // Browser-closed callback of every monitor: an automatic run on the
    // monitor's thread.
    static void onBrowserClosed(void* owner, int32_t kind, int64_t sinceTime);
    // Thread function of a manual run.
    static void combThreadProc(CombCoordinator* main);
    // One run over the cache of `kind`, entries from `sinceTime` on (0: all).
    // On the comb thread only.
    void runComb(int32_t kind, int64_t sinceTime);
    // Opens and loads `reader` and lets the filter set comb it.
    void combReader(CacheReader* reader, int64_t sinceTime);

    // A manual run has been started and has not yet ended.
    std::atomic<bool> busy{false};
    // Browser kind of the manual run.
    std::atomic<int32_t> currentKind{Mozilla};
    // Activity monitors, index = browser kind. Clearing a monitor's `running`
    // flag (or its Stop) stops it.
    std::array<BrowserMonitor, kBrowserKinds> monitors;
    // Display and image names, index = browser kind.
    const std::array<BrowserInfo, kBrowserKinds> browsers;
    // The filter set of every run.
    FilterSet filter;
    // Held by every run from start to end.
    std::mutex runLock;
    // Set by the main window before it starts monitors or runs; called on the
    // comb thread.
    RunStateCallback runStateCallback = nullptr;
    void* runStateContext = nullptr;
    ProgressCallback progressCallback = nullptr;
    void* progressContext = nullptr;

    // Makes each run's reader: MakeReader in the program; tests put a reader
    // of their own in its place. Set before runs start.
    ReaderFactory makeReader;

private:
    // Shows the close-the-browser message when a browser of `kind` runs.
    bool warnIfRunning(int32_t kind) const;
    static bool isKnownKind(int32_t kind) { return kind >= Mozilla && kind <= Maxthon; }

    const SettingsFile settingsFile_;
    // Set by Shutdown: no run starts, a run in progress stops at its next entry.
    std::atomic<bool> stopping_{false};
    // Runs under way or waiting for the lock.
    std::atomic<int> activeRuns_{0};
    // The thread of the latest manual run (at most one at a time, by `busy`).
    std::thread worker_;
};

}  // namespace harvix
