#include "engine/HarvixMain.h"

#include <exception>
#include <system_error>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "engine/Error.h"
#include "platform/Notifier.h"
#include "readers/ReaderFactory.h"

namespace {

// Reports the start of a run at once and its end when the scope is left, also
// when the run ends early.
class RunStateBracket {
public:
    RunStateBracket(CHarvixMain::RunStateCallback callback, void* context)
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
    CHarvixMain::RunStateCallback callback_;
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
    const auto* main = reinterpret_cast<const CHarvixMain*>(context);
    if (main->progressCallback != nullptr) {
        main->progressCallback(main->progressContext, percent);
    }
}

}  // namespace

CHarvixMain::CHarvixMain(SettingsFile settingsFile, uint32_t monitorPeriod)
    : browsers{{
          // Firefox runs as firefox, firefox-esr or firefox-bin, and as
          // firefox.exe under Wine; Internet Explorer and Maxthon run under Wine.
          {"Mozilla Firefox", {"firefox", "firefox-esr", "firefox-bin", "firefox.exe"}},
          {"Microsoft Internet Explorer", {"iexplore.exe"}},
          {"Maxthon", {"maxthon.exe"}},
      }},
      makeReader(&MakeReader),
      settingsFile_(settingsFile) {
    for (CBrowserActivity& monitor : monitors) {
        monitor.period = monitorPeriod;
    }
    if (settingsFile_ == SettingsFile::InitAndSave) {
        TheSettings().InitSettings();
    }
}

CHarvixMain::~CHarvixMain() {
    // Every thread has ended before a member goes, and the settings are
    // written after the last run could change them.
    Shutdown();
    if (settingsFile_ == SettingsFile::InitAndSave) {
        TheSettings().SaveSettings();
    }
}

void CHarvixMain::RequestStop() {
    stopping_ = true;
    for (CBrowserActivity& monitor : monitors) {
        monitor.Stop();
    }
}

void CHarvixMain::Shutdown() {
    RequestStop();
    for (CBrowserActivity& monitor : monitors) {
        monitor.Wait();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

const CHarvixMain::CBrowser& CHarvixMain::Browser(int32_t kind) const {
    static const CBrowser none;
    return IsKnownKind(kind) ? browsers[static_cast<std::size_t>(kind)] : none;
}

bool CHarvixMain::WarnIfRunning(int32_t kind) const {
    const CBrowser& browser = Browser(kind);
    // A check of its own: the monitors belong to their threads.
    CBrowserActivity check;
    if (!check.IsRunning(browser.processName)) {
        return false;
    }
    ShowMessage(browser.displayName + " " + TheLanguage().WarningCloseBrowser, MessageIcon::Warning,
                MessageButtons::Ok);
    return true;
}

void CHarvixMain::StartComb(int32_t kind) {
    if (busy || stopping_ || !IsKnownKind(kind)) {
        return;
    }
    if (WarnIfRunning(kind)) {
        return;
    }
    // Internet Explorer and Maxthon share one cache: both must be closed.
    if ((kind == IE && WarnIfRunning(Maxthon)) || (kind == Maxthon && WarnIfRunning(IE))) {
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
        worker_ = std::thread(&CHarvixMain::CombThreadProc, this);
    } catch (const std::system_error&) {
        busy = false;  // no thread: no run
    }
}

void CHarvixMain::StartMonitors() {
    if (stopping_) {
        return;
    }
    const Settings& settings = TheSettings();
    const bool useWith[kBrowserKinds] = {settings.Mozilla, settings.IE, settings.Maxthon};
    for (int32_t kind = Mozilla; kind <= Maxthon; ++kind) {
        const auto index = static_cast<std::size_t>(kind);
        if (useWith[index]) {
            monitors[index].Start(browsers[index].processName, this, kind, &OnBrowserClosed);
        }
    }
}

void CHarvixMain::OnBrowserClosed(void* owner, int32_t kind, int64_t sinceTime) {
    static_cast<CHarvixMain*>(owner)->RunComb(kind, sinceTime);
}

void CHarvixMain::CombThreadProc(CHarvixMain* main) {
    main->RunComb(main->currentKind, 0);
    main->busy = false;
}

void CHarvixMain::RunComb(int32_t kind, int64_t sinceTime) {
    if (!IsKnownKind(kind)) {
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
    Settings& settings = TheSettings();
    std::unique_ptr<CCacheBrowser> reader =
        makeReader(kind, kind == Mozilla ? settings.MozillaCachePath : std::string());
    if (reader == nullptr) {
        return;
    }
    {
        const RunStateBracket bracket(runStateCallback, runStateContext);
        try {
            CombReader(reader.get(), sinceTime);
        } catch (const CError&) {
            // A report no handler expected (the readers and the pass catch
            // their own) ends this run only; the thread and the program go on.
            reader->Close();
        } catch (const std::exception&) {
            // Likewise a fault outside the program's own reports (memory, a
            // file-system call that throws).
            reader->Close();
        }
    }
    if (kind == Mozilla) {
        // A discovered cache folder is remembered (written with the settings).
        settings.MozillaCachePath = reader->cacheFolder;
    }
}

void CHarvixMain::CombReader(CCacheBrowser* reader, int64_t sinceTime) {
    if (!reader->TryOpen()) {
        return;  // closed by TryOpen; the error reported itself
    }
    if (!stopping_) {
        reader->LoadEntries();
        filter.sinceTime = sinceTime;
        filter.progressCallback = &ForwardProgress;
        filter.progressContext = reinterpret_cast<std::intptr_t>(this);
        filter.stopRequest = &stopping_;
        try {
            filter.Comb(reader);
        } catch (const CError&) {
            // A target folder could not be made: the pass ends; the error box
            // was shown when the report was built.
        }
    }
    reader->Close();
}
