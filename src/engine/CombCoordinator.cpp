#include "engine/CombCoordinator.h"

#include <exception>
#include <optional>
#include <system_error>

namespace harvix {

namespace {

// Reports the start of a run at once and its end when the scope is left, also
// when the run ends early.
class RunStateBracket {
public:
    RunStateBracket(CoordinatorEvents& events, const BrowserRow& browser)
        : events_(events), browser_(browser) {
        events_.runState(browser_, true);
    }
    ~RunStateBracket() { events_.runState(browser_, false); }
    RunStateBracket(const RunStateBracket&) = delete;
    RunStateBracket& operator=(const RunStateBracket&) = delete;

private:
    CoordinatorEvents& events_;
    const BrowserRow& browser_;
};

// Counts a run from its request to its end (runsActive).
class ActiveRun {
public:
    explicit ActiveRun(std::atomic<int>& count) : count_(count) { ++count_; }
    ~ActiveRun() { --count_; }
    ActiveRun(const ActiveRun&) = delete;
    ActiveRun& operator=(const ActiveRun&) = delete;

private:
    std::atomic<int>& count_;
};

// Passes the pass's reports on to the front end's events, with the browser.
class ForwardingObserver : public CombObserver {
public:
    ForwardingObserver(CoordinatorEvents& events, const BrowserRow& browser)
        : events_(events), browser_(browser) {}
    void progress(int32_t percent) override { events_.progress(percent); }
    void entryCombed(uint64_t done, uint64_t total) override {
        events_.entryCombed(browser_, done, total);
    }
    void keptFile(const CacheEntry& entry, const std::string& path) override {
        events_.keptFile(browser_, entry, path);
    }
    void copyFailed(const CacheEntry& entry, const std::string& reason) override {
        events_.copyFailed(browser_, entry, reason);
    }
    void error(const ErrorReport& report) override { events_.error(browser_, report); }

private:
    CoordinatorEvents& events_;
    const BrowserRow& browser_;
};

}  // namespace

CombCoordinator::CombCoordinator(IPlatform& platform, CoordinatorEvents& events,
                                 uint32_t monitorPeriod)
    : platform_(platform), events_(events) {
    makeReader = [this](const BrowserRow& browser, const std::string& cacheFolder) {
        return browser.reader(platform_, cacheFolder);
    };
    for (std::size_t i = 0; i < browserTable().size(); ++i) {
        monitors.push_back(std::make_unique<BrowserMonitor>(platform_, monitorPeriod));
    }
}

CombCoordinator::~CombCoordinator() {
    // Every thread has ended before a member goes.
    shutdown();
}

void CombCoordinator::setFilter(const FilterSet& filter) {
    std::vector<FilterItem> items;
    items.reserve(filter.items.size());
    for (const auto& item : filter.items) {
        items.push_back(*item);
    }
    const std::lock_guard<std::mutex> lock(stateLock_);
    filterItems_ = std::move(items);
    listSeparator_ = filter.listSeparator;
}

void CombCoordinator::setOptions(const RunOptions& options) {
    const std::lock_guard<std::mutex> lock(stateLock_);
    options_ = options;
}

void CombCoordinator::requestStop() {
    stopping_ = true;
    stopRun_ = true;
    for (auto& monitor : monitors) {
        monitor->stop();
    }
    {
        const std::lock_guard<std::mutex> lock(queueLock_);
        activeRuns_ -= static_cast<int>(pending_.size());
        pending_.clear();
    }
    queued_.notify_all();
}

void CombCoordinator::cancelRun() {
    stopRun_ = true;
}

void CombCoordinator::shutdown() {
    requestStop();
    for (auto& monitor : monitors) {
        monitor->wait();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    if (automatic_.joinable()) {
        automatic_.join();
    }
}

bool CombCoordinator::warnIfRunning(const BrowserRow& browser) const {
    // A check of its own: the monitors belong to their threads.
    BrowserMonitor check(platform_);
    if (!check.isRunning(browser.processMatch())) {
        return false;
    }
    events_.browserRunning(browser);
    return true;
}

void CombCoordinator::startComb(const BrowserRow& browser) {
    if (busy || stopping_) {
        return;
    }
    if (warnIfRunning(browser)) {
        return;
    }
    // Browsers that share the cache must be closed too.
    for (const BrowserRow* other : browser.cacheSharers()) {
        if (warnIfRunning(*other)) {
            return;
        }
    }
    // The previous manual run has ended (busy is clear); its thread is at
    // most returning.
    if (worker_.joinable()) {
        worker_.join();
    }
    busy = true;
    manualBrowser_ = &browser;
    try {
        worker_ = std::thread([this] {
            runComb(*manualBrowser_, 0);
            busy = false;
        });
    } catch (const std::system_error&) {
        busy = false;  // no thread: no run
    }
}

void CombCoordinator::startMonitors(const std::vector<const BrowserRow*>& watched) {
    if (stopping_) {
        return;
    }
    for (const BrowserRow* browser : watched) {
        if (browser != nullptr && browser->index < monitors.size()) {
            monitors[browser->index]->start(*browser,
                                            [this](const BrowserRow& closed, int64_t sinceTime) {
                                                onBrowserClosed(closed, sinceTime);
                                            });
        }
    }
}

void CombCoordinator::onBrowserClosed(const BrowserRow& browser, int64_t sinceTime) {
    if (stopping_) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(queueLock_);
        pending_.emplace_back(&browser, sinceTime);
        ++activeRuns_;
        // The thread of automatic runs starts with the first of them.
        if (!automatic_.joinable()) {
            try {
                automatic_ = std::thread(&CombCoordinator::automaticRuns, this);
            } catch (const std::system_error&) {
                pending_.pop_back();
                --activeRuns_;
                return;
            }
        }
    }
    queued_.notify_all();
}

void CombCoordinator::automaticRuns() {
    for (;;) {
        std::pair<const BrowserRow*, int64_t> next;
        {
            std::unique_lock<std::mutex> lock(queueLock_);
            queued_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_) {
                return;  // requestStop dropped (and uncounted) what was queued
            }
            next = pending_.front();
            pending_.pop_front();
        }
        runComb(*next.first, next.second);
        --activeRuns_;
    }
}

void CombCoordinator::runComb(const BrowserRow& browser, int64_t sinceTime) {
    const ActiveRun active(activeRuns_);
    const std::lock_guard<std::mutex> lock(runLock);
    if (stopping_) {
        return;  // the program is ending: a run that waited for the lock is dropped
    }
    // A stop asked for before this run (a Cancel of an earlier one) is not
    // this run's; one asked for by the ending program is.
    stopRun_ = stopping_.load();
    // Started once the reader is made; ended when this function returns,
    // after a failure has been told.
    std::optional<RunStateBracket> bracket;
    const auto failed = [&](const std::string& why) {
        // A run that failed before it started is still one the user hears of.
        if (!bracket) {
            bracket.emplace(events_, browser);
        }
        events_.runFailed(browser, why);
    };
    try {
        // The snapshot: what this run combs, whatever the user edits meanwhile.
        std::vector<FilterItem> items;
        char separator = ',';
        RunOptions options;
        {
            const std::lock_guard<std::mutex> state(stateLock_);
            items = filterItems_;
            separator = listSeparator_;
            options = options_;
        }
        const FilterSnapshot snapshot =
            FilterSnapshot::take(items, separator, platform_.homeFolder(), platform_.currentTime());
        const CombOptions combOptions{options.oneCopy, options.skipDuplicates, sinceTime};
        const std::string startedWith =
            browser.hasCacheFolderOption ? options.firefoxCacheFolder : "";

        // Made inside the try: a failure here ends only this run.
        std::unique_ptr<CacheReader> reader = makeReader(browser, startedWith);
        if (reader == nullptr) {
            return;
        }
        bracket.emplace(events_, browser);
        ForwardingObserver observer(events_, browser);
        const CombRun run =
            combOnce(*reader, snapshot, combOptions, observer, platform_, &stopRun_);
        if (run.openError) {
            events_.error(browser, *run.openError);
        } else if (browser.hasCacheFolderOption && run.cacheLocation != startedWith) {
            events_.cacheFolderFound(startedWith, run.cacheLocation);
        }
        events_.runFinished(browser, run);
    } catch (const ErrorReport& report) {
        // A report no handler expected ends this run only; the user is told
        // that the run failed (and gets its box where it calls for one).
        events_.error(browser, report);
        failed(report.what());
    } catch (const std::exception& fault) {
        // Likewise a fault outside the program's own reports (memory, a
        // file-system call that throws): the thread and the program go on.
        failed(fault.what());
    }
}

}  // namespace harvix
