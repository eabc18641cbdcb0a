#include "engine/CombCoordinator.h"

#include <exception>
#include <system_error>

namespace harvix {

namespace {

// Reports the start of a run at once and its end when the scope is left, also
// when the run ends early.
class RunStateBracket {
public:
    explicit RunStateBracket(CoordinatorEvents& events) : events_(events) {
        events_.runState(true);
    }
    ~RunStateBracket() { events_.runState(false); }
    RunStateBracket(const RunStateBracket&) = delete;
    RunStateBracket& operator=(const RunStateBracket&) = delete;

private:
    CoordinatorEvents& events_;
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

// Passes the pass's reports on to the front end's events.
class ForwardingObserver : public CombObserver {
public:
    explicit ForwardingObserver(CoordinatorEvents& events) : events_(events) {}
    void progress(int32_t percent) override { events_.progress(percent); }
    void entryCombed(uint64_t done, uint64_t total) override { events_.entryCombed(done, total); }
    void keptFile(const std::string& path) override { events_.keptFile(path); }
    void error(const ErrorReport& report) override { events_.error(report); }

private:
    CoordinatorEvents& events_;
};

}  // namespace

CombCoordinator::CombCoordinator(CoordinatorEvents& events, uint32_t monitorPeriod)
    : makeReader(&makeBrowserReader), events_(events) {
    for (std::size_t i = 0; i < browserTable().size(); ++i) {
        monitors.push_back(std::make_unique<BrowserMonitor>(monitorPeriod));
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
    runStop_ = true;
    for (auto& monitor : monitors) {
        monitor->stop();
    }
}

void CombCoordinator::cancelRun() {
    runStop_ = true;
}

void CombCoordinator::shutdown() {
    requestStop();
    for (auto& monitor : monitors) {
        monitor->wait();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool CombCoordinator::warnIfRunning(int kind) const {
    const BrowserRow* row = browserRow(kind);
    if (row == nullptr) {
        return false;
    }
    // A check of its own: the monitors belong to their threads.
    BrowserMonitor check;
    if (!check.isRunning(processMatchOf(*row))) {
        return false;
    }
    events_.browserRunning(*row);
    return true;
}

void CombCoordinator::startComb(int kind) {
    const BrowserRow* row = browserRow(kind);
    if (busy || stopping_ || row == nullptr) {
        return;
    }
    if (warnIfRunning(kind)) {
        return;
    }
    // Browsers that share the cache must be closed too.
    for (const std::string& other : row->sharesCacheWith) {
        if (warnIfRunning(browserKindFromWord(other))) {
            return;
        }
    }
    // The previous manual run has ended (busy is clear); its thread is at
    // most returning.
    if (worker_.joinable()) {
        worker_.join();
    }
    busy = true;
    currentKind = kind;
    try {
        worker_ = std::thread(&CombCoordinator::combThreadProc, this);
    } catch (const std::system_error&) {
        busy = false;  // no thread: no run
    }
}

void CombCoordinator::startMonitors(const std::vector<bool>& watch) {
    if (stopping_) {
        return;
    }
    const auto& table = browserTable();
    for (std::size_t kind = 0; kind < table.size() && kind < watch.size(); ++kind) {
        if (watch[kind]) {
            monitors[kind]->start(processMatchOf(table[kind]), this, static_cast<int32_t>(kind),
                                  &onBrowserClosed);
        }
    }
}

void CombCoordinator::onBrowserClosed(void* owner, int32_t kind, int64_t sinceTime) {
    static_cast<CombCoordinator*>(owner)->runComb(kind, sinceTime);
}

void CombCoordinator::combThreadProc(CombCoordinator* coordinator) {
    coordinator->runComb(coordinator->currentKind, 0);
    coordinator->busy = false;
}

void CombCoordinator::runComb(int kind, int64_t sinceTime) {
    const BrowserRow* row = browserRow(kind);
    if (row == nullptr) {
        return;
    }
    const ActiveRun active(activeRuns_);
    const std::lock_guard<std::mutex> lock(runLock);
    // A cancel concerns the run under way, not this one; cleared before
    // stopping_ is read, so that a stop request in between still stops it.
    runStop_ = false;
    if (stopping_) {
        return;  // the program is ending: a run that waited for the lock is dropped
    }
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
        const FilterSnapshot snapshot = FilterSnapshot::take(items, separator);
        const CombOptions combOptions{options.oneCopy, options.skipDuplicates, sinceTime};
        const std::string startedWith = row->hasCacheFolderOption ? options.firefoxCacheFolder : "";

        // Made inside the try: a failure here ends only this run.
        std::unique_ptr<CacheReader> reader = makeReader(kind, startedWith);
        if (reader == nullptr) {
            return;
        }
        const RunStateBracket bracket(events_);
        events_.runKind(kind);
        try {
            reader->open();
        } catch (const ErrorReport& report) {
            reader->close();
            events_.error(report);
            return;
        }
        if (row->hasCacheFolderOption) {
            const std::string found = readerCacheFolder(*reader);
            if (found != startedWith) {
                events_.cacheFolderFound(startedWith, found);
            }
        }
        if (stopping_) {
            reader->close();
            return;
        }
        // A cancel stops a long reading too; the pass then combs nothing.
        reader->setReadingWatch([this](const auto&) { return !runStop_; });
        reader->loadEntries();
        ForwardingObserver observer(events_);
        const CombResult result =
            harvix::runComb(*reader, snapshot, combOptions, observer, &runStop_);
        reader->close();
        events_.runFinished(kind, result);
    } catch (const ErrorReport& report) {
        // A report no handler expected ends this run only.
        events_.error(report);
    } catch (const std::exception&) {
        // Likewise a fault outside the program's own reports (memory, a
        // file-system call that throws): the thread and the program go on.
    }
}

}  // namespace harvix
