#include "ui/CombReports.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "engine/CombCoordinator.h"
#include "ui/Notifier.h"
#include "ui/ProgramState.h"

namespace harvix {

class CombReports::Link final : public CoordinatorEvents {
public:
    std::mutex lock;
    CombReports* reports = nullptr;
    LanguageTexts texts;
    // The run under way (one at a time: runs hold the run lock).
    RunSummary run;
    std::chrono::steady_clock::time_point lastCount;

    void runState(const BrowserRow& browser, bool started) override {
        const std::lock_guard<std::mutex> guard(lock);
        if (started) {
            run = RunSummary();
            run.browser = &browser;
            lastCount = {};
        } else if (reports != nullptr) {
            emit reports->runEnded(run);
        }
        if (reports != nullptr) {
            emit reports->runStateChanged(started);
            if (started) {
                emit reports->runBrowserKnown(QString::fromStdString(texts.browserName(browser)));
            }
        }
    }

    void progress(int32_t percent) override {
        const std::lock_guard<std::mutex> guard(lock);
        if (reports != nullptr) {
            emit reports->progressed(percent);
        }
    }

    void entryCombed(const BrowserRow& /*browser*/, uint64_t done, uint64_t total) override {
        // Called for every entry: the window gets the counts a few times a
        // second, and the last one.
        const auto now = std::chrono::steady_clock::now();
        const std::lock_guard<std::mutex> guard(lock);
        if (reports == nullptr ||
            (done < total && now - lastCount < std::chrono::milliseconds(kCountPeriodMs))) {
            return;
        }
        lastCount = now;
        emit reports->counted(done, total);
    }

    void runFinished(const BrowserRow& browser, const CombRun& finished) override {
        const std::lock_guard<std::mutex> guard(lock);
        run.browser = &browser;
        run.finished = true;
        run.run = finished;
    }

    void runFailed(const BrowserRow& browser, const std::string& why) override {
        const std::lock_guard<std::mutex> guard(lock);
        run.browser = &browser;
        run.failure = why;
    }

    void cacheFolderFound(const std::string& startedWith, const std::string& found) override {
        const std::lock_guard<std::mutex> guard(lock);
        if (reports != nullptr) {
            emit reports->cacheFolderFound(QString::fromStdString(startedWith),
                                           QString::fromStdString(found));
        }
    }

    void error(const BrowserRow& browser, const ErrorReport& report) override {
        std::string text;
        {
            const std::lock_guard<std::mutex> guard(lock);
            if (reports == nullptr || !showsErrorBox(report)) {
                return;
            }
            text = errorBoxText(report, texts, &browser);
        }
        // The notifier shows the box on the user-interface thread and waits
        // for the answer; it gives up when the program ends meanwhile.
        showMessage(text, MessageIcon::Error, MessageButtons::Ok);
    }

    void browserRunning(const BrowserRow& browser) override {
        std::string text;
        {
            const std::lock_guard<std::mutex> guard(lock);
            text = texts.browserName(browser) + " " + texts.WarningCloseBrowser;
        }
        showMessage(text, MessageIcon::Warning, MessageButtons::Ok);
    }
};

namespace {

// Links are never freed: a comb thread still inside a report while the
// program ends never touches freed memory. There is one per main window,
// so one per process outside the tests.
template <typename T>
T* makeLasting() {
    static std::mutex listLock;
    static auto* all = new std::vector<std::unique_ptr<T>>;
    const std::lock_guard<std::mutex> guard(listLock);
    all->push_back(std::make_unique<T>());
    return all->back().get();
}

}  // namespace

CombReports::CombReports(QObject* parent) : QObject(parent), link_(makeLasting<Link>()) {
    link_->reports = this;
    link_->texts = theLanguage();
}

CombReports::~CombReports() {
    const std::lock_guard<std::mutex> guard(link_->lock);
    link_->reports = nullptr;
}

CoordinatorEvents& CombReports::events() const {
    return *link_;
}

void CombReports::setTexts(const LanguageTexts& texts) {
    const std::lock_guard<std::mutex> guard(link_->lock);
    link_->texts = texts;
}

}  // namespace harvix
