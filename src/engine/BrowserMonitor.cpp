#include "engine/BrowserMonitor.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "base/Text.h"
#include "engine/Browsers.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

std::vector<std::string> lowerCased(const std::vector<std::string>& names) {
    std::vector<std::string> lower;
    lower.reserve(names.size());
    for (const std::string& name : names) {
        lower.push_back(toLowerAscii(name));
    }
    return lower;
}

}  // namespace

BrowserMonitor::BrowserMonitor(IPlatform& platform, uint32_t periodMs)
    : period(periodMs), platform_(platform) {}

BrowserMonitor::~BrowserMonitor() {
    stop();
    wait();
}

bool BrowserMonitor::start(const BrowserRow& row, ClosedCallback callback) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (running) {
        return false;
    }
    ProcessMatch match = row.processMatch();
    browser = &row;
    target = lowerCased(match.names);
    running = true;
    // A new generation tells a thread that is still ending (its stop not yet
    // seen) that it is no longer the monitor's thread, even though `running`
    // is true again; the wake-up cuts its sleep short.
    const uint64_t generation = ++generation_;
    wake_.notify_all();
    auto previous = std::make_shared<std::thread>(std::move(thread_));
    try {
        thread_ = std::thread(
            &BrowserMonitor::monitorThreadProc, this,
            Watch{&row, std::move(match), std::move(callback), period, generation}, previous);
    } catch (const std::system_error&) {
        thread_ = std::move(*previous);
        running = false;
        return false;
    }
    return true;
}

bool BrowserMonitor::isRunning(const std::string& imageName) {
    return isRunning(std::vector<std::string>{imageName});
}

bool BrowserMonitor::isRunning(const std::vector<std::string>& imageNames) {
    return isRunning(ProcessMatch::byNames(imageNames));
}

bool BrowserMonitor::isRunning(const ProcessMatch& match) {
    target = lowerCased(match.names);
    found = false;
    found = findProcess(match);
    return found;
}

void BrowserMonitor::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        running = false;
    }
    wake_.notify_all();
}

void BrowserMonitor::wait() {
    std::thread newest;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        newest = std::move(thread_);
    }
    // Joined outside the lock, which the polling thread takes between polls.
    // The newest thread joins the older ones it owns first.
    if (newest.joinable()) {
        newest.join();
    }
}

void BrowserMonitor::monitorThreadProc(BrowserMonitor* monitor, Watch watch,
                                       std::shared_ptr<std::thread> previous) {
    // Two threads never poll for one monitor: wait until the thread that
    // polled before this one (possibly still inside a comb run) has ended.
    if (previous->joinable()) {
        previous->join();
    }
    previous.reset();
    monitor->pollLoop(watch);
}

bool BrowserMonitor::keepPolling(uint64_t generation) const {
    return running && generation_ == generation;
}

void BrowserMonitor::pollLoop(const Watch& watch) {
    bool previous = false;
    int64_t since = 0;
    if (!keepPolling(watch.generation)) {
        return;
    }
    for (;;) {
        const bool seen = findProcess(watch.match);
        found = seen;
        if (seen && !previous) {
            // Just seen: the first poll of an appearance fixes the since time.
            since = platform_.currentTime();
        } else if (!seen && previous && watch.onClosed) {
            // Just gone: the callback queues the comb and returns.
            watch.onClosed(*watch.browser, since);
        }
        previous = seen;
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(watch.period),
                           [&] { return !keepPolling(watch.generation); })) {
            return;
        }
    }
}

bool BrowserMonitor::findProcess(const ProcessMatch& match) {
    // A process table that cannot be read counts as one without the browser.
    std::vector<ProcessInfo> processes;
    int64_t user = -1;
    try {
        processes = platform_.listProcesses();
        user = platform_.currentUserId();
    } catch (const std::exception&) {
        return false;
    }
    for (const ProcessInfo& process : processes) {
        // Only the user's own processes: where the system tells user ids, a
        // process whose owner is unknown (it ended meanwhile) is none.
        if (user >= 0 && process.uid != user) {
            continue;
        }
        if (match.matches(process)) {
            return true;
        }
    }
    return false;
}

}  // namespace harvix
