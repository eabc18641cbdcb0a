// BrowserMonitor: watches one browser from a thread of its own and reports
// the moment it closes.
//
// The monitor looks for the browser's processes (ProcessMatch) in the process
// table once every period (2000 ms in the program). Only the processes of
// the user the program runs for count: another user's browser neither delays
// nor starts this user's runs. When a poll no longer finds a process
// that the previous poll found, it calls its browser-closed callback on its own
// thread with the time at which it first saw the browser running; the comb
// coordinator then combs that browser's cache right there, limited to entries
// from that time on. The same class answers a single on-demand question,
// "does the browser run right now?" (IsRunning), on the calling thread.
//
// Threads: Start creates the polling thread; clearing `running` (or Stop)
// ends it after the poll in progress, the run its callback may have started,
// and the following sleep (Stop also cuts that sleep short). A monitor never
// has two polling threads: a Start that follows a stop before the old thread
// has ended hands the old thread to the new one, which waits for it to end
// before its first poll. The caller of Start never blocks, so the user
// interface cannot wait on a comb run that reports to it. The destructor
// stops the monitor and waits for its threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace harvix {

struct ProcessInfo;

// How one browser's processes are told from every other process.
//
// A process is known by three names: its image name (`comm`, which the
// kernel cuts at 15 bytes, so "chromium-browser" runs as "chromium-browse"),
// the file name of its executable and that of its argv[0]. Mozilla's builds
// name their main thread "GeckoMain", so the image name alone may tell
// nothing; the executable still says "firefox".
//
// Packaged installs are told by markers. A marker that holds a '/' is a
// folder: it names the processes whose executable or argv[0] lies below it
// ("/snap/chromium/"). Any other marker is a Flatpak application id
// ("org.chromium.Chromium").
struct ProcessMatch {
    // The names it runs under; any one counts (compared in any case).
    std::vector<std::string> names;
    // Markers of its own installs: a process they name is the browser
    // whatever it is called (Snap Chromium runs a binary named "chrome").
    std::vector<std::string> claims;
    // Markers of another browser's installs: a process they name is not this
    // browser even when it bears one of `names`.
    std::vector<std::string> excludes;

    // Only the names.
    static ProcessMatch byNames(const std::vector<std::string>& names);
    // True when `process` is one of this browser's.
    bool matches(const ProcessInfo& process) const;
};

class BrowserMonitor {
public:
    // Browser-closed callback: owner and kind as given to Start, and the time
    // (seconds since 1970-01-01 UTC) at which the browser was first seen.
    using ClosedCallback = void (*)(void* owner, int32_t kind, int64_t sinceTime);
    // Source of the since time: seconds since 1970-01-01 UTC.
    using Clock = int64_t (*)();

    // Pause between two polls of the program.
    static constexpr uint32_t kDefaultPeriod = 2000;

    // `periodMs`: pause between two polls; tests use a short one.
    explicit BrowserMonitor(uint32_t periodMs = kDefaultPeriod);
    // Stops the monitor and waits for its thread (and the run it may execute).
    virtual ~BrowserMonitor();
    BrowserMonitor(const BrowserMonitor&) = delete;
    BrowserMonitor& operator=(const BrowserMonitor&) = delete;

    // Starts the polling thread for a browser known under `imageNames` (any
    // one of them counts; compared in lower case). Returns false at once,
    // changing nothing, while `running` is true; otherwise returns whether
    // the thread was created.
    bool start(const ProcessMatch& match, void* owner, int32_t kind, ClosedCallback callback);
    bool start(const std::vector<std::string>& imageNames, void* owner, int32_t kind,
               ClosedCallback callback);
    bool start(const std::string& imageName, void* owner, int32_t kind, ClosedCallback callback);

    // One check of the process table on the calling thread: does a process
    // of the browser run? For monitors that are never started.
    bool isRunning(const ProcessMatch& match);
    bool isRunning(const std::vector<std::string>& imageNames);
    bool isRunning(const std::string& imageName);

    // Clears `running` and wakes the polling thread from its sleep. Clearing
    // `running` directly stops the monitor too, only after the current sleep.
    void stop();
    // Waits until the polling thread (and any older one it waits for) has
    // ended; call after Stop, never from the monitor's own thread.
    void wait();

    // True while the process was seen in the latest poll (or IsRunning check).
    std::atomic<bool> found{false};
    // The image names looked for, lower case (as given to the last Start or IsRunning).
    std::vector<std::string> target;
    // Handed back to `onClosed` (the coordinator).
    void* owner = nullptr;
    // Browser kind handed back to `onClosed`.
    int32_t kind = 0;
    // Pause between two polls, in milliseconds; read by Start.
    uint32_t period;
    // The polling thread keeps polling while true. Cleared from outside to stop.
    std::atomic<bool> running{false};
    // Browser-closed callback.
    ClosedCallback onClosed = nullptr;
    // Clock of the since time; read by Start. Tests install one of their own.
    Clock clock;

    // The system clock in seconds since 1970-01-01 UTC.
    static int64_t systemSeconds();

private:
    // What one polling thread watches: a copy taken by Start, so that a later
    // Start never changes what an old thread that is still ending reads.
    struct Watch {
        ProcessMatch match;
        void* owner;
        int32_t kind;
        ClosedCallback onClosed;
        uint32_t period;
        Clock clock;
        uint64_t generation;
    };

    static void monitorThreadProc(BrowserMonitor* monitor, Watch watch,
                                  std::shared_ptr<std::thread> previous);
    void pollLoop(const Watch& watch);
    // True when a process of the user's own that `match` names is in the table.
    static bool findProcess(const ProcessMatch& match);
    // The thread of `generation` polls on while this holds.
    bool keepPolling(uint64_t generation) const;

    std::mutex mutex_;
    std::condition_variable wake_;
    // The newest polling thread; it owns (and first joins) the one before it.
    std::thread thread_;
    // Counts Starts; a thread polls only while its generation is the latest.
    std::atomic<uint64_t> generation_{0};
};

}  // namespace harvix
