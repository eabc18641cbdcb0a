#include "engine/BrowserMonitor.h"

#include <chrono>
#include <exception>
#include <string_view>
#include <system_error>

#include "base/Text.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

std::vector<std::string> LowerCased(const std::vector<std::string>& names) {
    std::vector<std::string> lower;
    lower.reserve(names.size());
    for (const std::string& name : names) {
        lower.push_back(toLowerAscii(name));
    }
    return lower;
}

// The file name of a Unix or a Windows path (Wine shows Windows programs'
// argv[0] as "C:\\...\\iexplore.exe").
std::string_view FileNameOf(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Whether `name` is the image name `shown`: the same in any case, or, when
// the kernel cut the image name at its 15 bytes, the start of it.
bool SameImageName(std::string_view shown, std::string_view name) {
    if (equalsNoCase(shown, name)) {
        return true;
    }
    return shown.size() == 15 && name.size() > 15 && equalsNoCase(shown, name.substr(0, 15));
}

bool CarriesMarker(const ProcessInfo& process, const std::string& marker) {
    if (marker.find('/') == std::string::npos) {
        return !process.packageId.empty() && equalsNoCase(process.packageId, marker);
    }
    return process.executable.starts_with(marker) || process.argv0.starts_with(marker);
}

bool CarriesAny(const ProcessInfo& process, const std::vector<std::string>& markers) {
    for (const std::string& marker : markers) {
        if (CarriesMarker(process, marker)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ProcessMatch ProcessMatch::byNames(const std::vector<std::string>& names) {
    ProcessMatch match;
    match.names = names;
    return match;
}

bool ProcessMatch::matches(const ProcessInfo& process) const {
    if (CarriesAny(process, claims)) {
        return true;
    }
    if (CarriesAny(process, excludes)) {
        return false;
    }
    // A process that rewrote its command line into one line (Chromium's
    // helpers do) keeps its program before the first option.
    const std::string_view argv0 =
        std::string_view(process.argv0).substr(0, process.argv0.find(" -"));
    const std::string_view executable = FileNameOf(process.executable);
    const std::string_view argvName = FileNameOf(argv0);
    // Whole names only: "firefoxx" or "my-firefox" is not "firefox".
    for (const std::string& name : names) {
        if (SameImageName(process.imageName, name) ||
            (!executable.empty() && equalsNoCase(executable, name)) ||
            (!argvName.empty() && equalsNoCase(argvName, name))) {
            return true;
        }
    }
    return false;
}

BrowserMonitor::BrowserMonitor(uint32_t periodMs) : period(periodMs), clock(&systemSeconds) {}

BrowserMonitor::~BrowserMonitor() {
    stop();
    wait();
}

int64_t BrowserMonitor::systemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool BrowserMonitor::start(const std::string& imageName, void* ownerArg, int32_t kindArg,
                           ClosedCallback callback) {
    return start(std::vector<std::string>{imageName}, ownerArg, kindArg, callback);
}

bool BrowserMonitor::start(const std::vector<std::string>& imageNames, void* ownerArg,
                           int32_t kindArg, ClosedCallback callback) {
    return start(ProcessMatch::byNames(imageNames), ownerArg, kindArg, callback);
}

bool BrowserMonitor::start(const ProcessMatch& match, void* ownerArg, int32_t kindArg,
                           ClosedCallback callback) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (running) {
        return false;
    }
    owner = ownerArg;
    kind = kindArg;
    onClosed = callback;
    target = LowerCased(match.names);
    running = true;
    // A new generation tells a thread that is still ending (its stop not yet
    // seen) that it is no longer the monitor's thread, even though `running`
    // is true again; the wake-up cuts its sleep short.
    const uint64_t generation = ++generation_;
    wake_.notify_all();
    auto previous = std::make_shared<std::thread>(std::move(thread_));
    try {
        thread_ =
            std::thread(&BrowserMonitor::monitorThreadProc, this,
                        Watch{match, owner, kind, onClosed, period, clock, generation}, previous);
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
    target = LowerCased(match.names);
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
            since = watch.clock();
        } else if (!seen && previous && watch.onClosed != nullptr) {
            // Just gone: returns when the comb run it starts has ended.
            watch.onClosed(watch.owner, watch.kind, since);
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
        IPlatform& platform = platformServices();
        processes = platform.listProcesses();
        user = platform.currentUserId();
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
