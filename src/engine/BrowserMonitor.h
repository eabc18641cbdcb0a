// BrowserMonitor: watches one browser from a thread of its own and reports
// the moment it closes.
//
// The monitor looks for the processes of its browser row (its ProcessMatch)
// in the process table once every period (2000 ms in the program). Only the processes of
// the user the program runs for count: another user's browser neither delays
// nor starts this user's runs. When a poll no longer finds a process
// that the previous poll found, it calls its browser-closed callback on its own
// thread with the time at which it first saw the browser running; the comb
// coordinator then queues a comb of that browser's cache, limited to entries
// from that time on, and the monitor goes on watching (a browser restarted
// during a long comb gets a since time of its own). The same class answers a
// single on-demand question, "does the browser run right now?" (isRunning),
// on the calling thread.
//
// Threads: start creates the polling thread; clearing `running` (or stop)
// ends it after the poll in progress, the callback it may be in, and the
// following sleep (stop also cuts that sleep short). A monitor never has two
// polling threads: a start that follows a stop before the old thread has
// ended hands the old thread to the new one, which waits for it to end
// before its first poll. The caller of start never blocks, so the user
// interface cannot wait on a callback that reports to it. The destructor
// stops the monitor and waits for its threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ProcessMatch.h"
#include "platform/Platform.h"

namespace harvix {

struct BrowserRow;

class BrowserMonitor {
public:
    // Browser-closed callback, on the monitor's thread: the row given to
    // start, and the time (seconds since 1970-01-01 UTC) at which the
    // browser was first seen. It is to return soon (queue the comb, never
    // make it): the monitor polls again only after it returns.
    using ClosedCallback = std::function<void(const BrowserRow& browser, int64_t sinceTime)>;

    // Pause between two polls of the program.
    static constexpr uint32_t kDefaultPeriod = 2000;

    // `platform`: the process table and the clock of the since time;
    // `periodMs`: pause between two polls (tests use a short one).
    explicit BrowserMonitor(IPlatform& platform, uint32_t periodMs = kDefaultPeriod);
    // Stops the monitor and waits for its thread (and the run it may execute).
    virtual ~BrowserMonitor();
    BrowserMonitor(const BrowserMonitor&) = delete;
    BrowserMonitor& operator=(const BrowserMonitor&) = delete;

    // Starts the polling thread for the browser of `row` (its processMatch;
    // the row outlives the monitor: it is one of the browser table's).
    // Returns false at once, changing nothing, while `running` is true;
    // otherwise returns whether the thread was created.
    bool start(const BrowserRow& row, ClosedCallback callback);

    // One check of the process table on the calling thread: does a process
    // of the browser run? For monitors that are never started.
    bool isRunning(const ProcessMatch& match);
    bool isRunning(const std::vector<std::string>& imageNames);
    bool isRunning(const std::string& imageName);

    // Clears `running` and wakes the polling thread from its sleep. Clearing
    // `running` directly stops the monitor too, only after the current sleep.
    void stop();
    // Waits until the polling thread (and any older one it waits for) has
    // ended; call after stop, never from the monitor's own thread.
    void wait();

    // True while the process was seen in the latest poll (or isRunning check).
    std::atomic<bool> found{false};
    // The names looked for, lower case (as given to the last start or isRunning).
    std::vector<std::string> target;
    // The row watched (as given to the last start); null before.
    const BrowserRow* browser = nullptr;
    // Pause between two polls, in milliseconds; read by start.
    uint32_t period;
    // The polling thread keeps polling while true. Cleared from outside to stop.
    std::atomic<bool> running{false};

private:
    // What one polling thread watches: a copy taken by start, so that a later
    // start never changes what an old thread that is still ending reads.
    struct Watch {
        const BrowserRow* browser;
        ProcessMatch match;
        ClosedCallback onClosed;
        uint32_t period;
        uint64_t generation;
    };

    static void monitorThreadProc(BrowserMonitor* monitor, Watch watch,
                                  std::shared_ptr<std::thread> previous);
    void pollLoop(const Watch& watch);
    // True when a process of the user's own that `match` names is in the table.
    bool findProcess(const ProcessMatch& match);
    // The thread of `generation` polls on while this holds.
    bool keepPolling(uint64_t generation) const;

    IPlatform& platform_;
    std::mutex mutex_;
    std::condition_variable wake_;
    // The newest polling thread; it owns (and first joins) the one before it.
    std::thread thread_;
    // Counts Starts; a thread polls only while its generation is the latest.
    std::atomic<uint64_t> generation_{0};
};

}  // namespace harvix
