#include "engine/CombCoordinator.h"

#include <exception>
#include <system_error>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "engine/ErrorReport.h"
#include "platform/Notifier.h"
#include "readers/ReaderFactory.h"

namespace harvix {

namespace {

// Reports the start of a run at once and its end when the scope is left, also
// when the run ends early.
class RunStateBracket {
public:
    RunStateBracket(CombCoordinator::RunStateCallback callback, void* context)
        : callback_(callback), context_(context) {
        if (callback_ != nullptr) {
            callback_(context_, 1);
        }
    }
    ~RunStateBracket() {
        if (callback_ != nullptr) {
            callback_(context_, 0);
        }
    }
    RunStateBracket(const RunStateBracket&) = delete;
    RunStateBracket& operator=(const RunStateBracket&) = delete;

private:
    CombCoordinator::RunStateCallback callback_;
    void* context_;
};

// Counts a run from its request to its end (RunsActive).
class ActiveRun {
public:
    explicit ActiveRun(std::atomic<int>& count) : count_(count) { ++count_; }
    ~ActiveRun() { --count_; }
    ActiveRun(const ActiveRun&) = delete;
    ActiveRun& operator=(const ActiveRun&) = delete;

private:
    std::atomic<int>& count_;
};

// The filter set hands progress to a callback with an integer context; this
// one passes it on to the main window's callback.
void ForwardProgress(std::intptr_t context, int32_t percent) {
    const auto* main = reinterpret_cast<const CombCoordinator*>(context);
    if (main->progressCallback != nullptr) {
        main->progressCallback(main->progressContext, percent);
    }
}

}  // namespace

CombCoordinator::CombCoordinator(SettingsFile settingsFile, uint32_t monitorPeriod)
    : browsers{{
          // Firefox runs as firefox, firefox-esr or firefox-bin, and as
          // firefox.exe under Wine; Internet Explorer and Maxthon run under Wine.
          {"Mozilla Firefox", {"firefox", "firefox-esr", "firefox-bin", "firefox.exe"}},
          {"Microsoft Internet Explorer", {"iexplore.exe"}},
          {"Maxthon", {"maxthon.exe"}},
      }},
      makeReader(&makeBrowserReader),
      settingsFile_(settingsFile) {
    for (BrowserMonitor& monitor : monitors) {
        monitor.period = monitorPeriod;
    }
    if (settingsFile_ == SettingsFile::InitAndSave) {
        theSettings().initSettings();
    }
}

CombCoordinator::~CombCoordinator() {
    // Every thread has ended before a member goes, and the settings are
    // written after the last run could change them.
    shutdown();
    if (settingsFile_ == SettingsFile::InitAndSave) {
        theSettings().saveSettings();
    }
}

void CombCoordinator::requestStop() {
    stopping_ = true;
    for (BrowserMonitor& monitor : monitors) {
        monitor.stop();
    }
}

void CombCoordinator::shutdown() {
    requestStop();
    for (BrowserMonitor& monitor : monitors) {
        monitor.wait();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

const BrowserInfo& CombCoordinator::browser(int32_t kind) const {
    static const BrowserInfo none;
    return isKnownKind(kind) ? browsers[static_cast<std::size_t>(kind)] : none;
}

bool CombCoordinator::warnIfRunning(int32_t kind) const {
    const BrowserInfo& info = browser(kind);
    // A check of its own: the monitors belong to their threads.
    BrowserMonitor check;
    if (!check.isRunning(info.processName)) {
        return false;
    }
    showMessage(info.displayName + " " + theLanguage().WarningCloseBrowser, MessageIcon::Warning,
                MessageButtons::Ok);
    return true;
}

void CombCoordinator::startComb(int32_t kind) {
    if (busy || stopping_ || !isKnownKind(kind)) {
        return;
    }
    if (warnIfRunning(kind)) {
        return;
    }
    // Internet Explorer and Maxthon share one cache: both must be closed.
    if ((kind == IE && warnIfRunning(Maxthon)) || (kind == Maxthon && warnIfRunning(IE))) {
        return;
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

void CombCoordinator::startMonitors() {
    if (stopping_) {
        return;
    }
    const Settings& settings = theSettings();
    const bool useWith[kBrowserKinds] = {settings.Mozilla, settings.IE, settings.Maxthon};
    for (int32_t kind = Mozilla; kind <= Maxthon; ++kind) {
        const auto index = static_cast<std::size_t>(kind);
        if (useWith[index]) {
            monitors[index].start(browsers[index].processName, this, kind, &onBrowserClosed);
        }
    }
}

void CombCoordinator::onBrowserClosed(void* owner, int32_t kind, int64_t sinceTime) {
    static_cast<CombCoordinator*>(owner)->runComb(kind, sinceTime);
}

void CombCoordinator::combThreadProc(CombCoordinator* main) {
    main->runComb(main->currentKind, 0);
    main->busy = false;
}

void CombCoordinator::runComb(int32_t kind, int64_t sinceTime) {
    if (!isKnownKind(kind)) {
        return;
    }
    const ActiveRun active(activeRuns_);
    const std::lock_guard<std::mutex> lock(runLock);
    if (stopping_) {
        return;  // the program is ending: a run that waited for the lock is dropped
    }
    // The reader is made under the lock, so that a Firefox run queued behind
    // another starts from the cache folder that run found and the setting is
    // never read while a run writes it.
    Settings& settings = theSettings();
    std::unique_ptr<CacheReader> reader =
        makeReader(kind, kind == Mozilla ? settings.MozillaCachePath : std::string());
    if (reader == nullptr) {
        return;
    }
    {
        const RunStateBracket bracket(runStateCallback, runStateContext);
        try {
            combReader(reader.get(), sinceTime);
        } catch (const ErrorReport&) {
            // A report no handler expected (the readers and the pass catch
            // their own) ends this run only; the thread and the program go on.
            reader->close();
        } catch (const std::exception&) {
            // Likewise a fault outside the program's own reports (memory, a
            // file-system call that throws).
            reader->close();
        }
    }
    if (kind == Mozilla) {
        // A discovered cache folder is remembered (written with the settings).
        settings.MozillaCachePath = reader->cacheFolder;
    }
}

void CombCoordinator::combReader(CacheReader* reader, int64_t sinceTime) {
    if (!reader->tryOpen()) {
        return;  // closed by TryOpen; the error reported itself
    }
    if (!stopping_) {
        reader->loadEntries();
        filter.sinceTime = sinceTime;
        filter.progressCallback = &ForwardProgress;
        filter.progressContext = reinterpret_cast<std::intptr_t>(this);
        filter.stopRequest = &stopping_;
        try {
            filter.comb(reader);
        } catch (const ErrorReport&) {
            // A target folder could not be made: the pass ends; the error box
            // was shown when the report was built.
        }
    }
    reader->close();
}

}  // namespace harvix
