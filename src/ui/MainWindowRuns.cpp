// The main window and the comb runs: what it hands the coordinator (the
// next run's filter set and options, the watched browsers) and what it does
// with the runs' reports, which arrive as queued signals: the progress
// window's count, and the notice at the end of each run.
#include <cstdio>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "controls/Pictures.h"
#include "ui/Commands.h"
#include "ui/MainWindow.h"
#include "ui/ProgramState.h"
#include "ui/ProgressWindow.h"

namespace harvix {

void MainWindow::handOverFilter() {
    coordinator_.setFilter(filterSet_);
}

void MainWindow::handOverOptions() {
    const Settings& settings = settings_;
    RunOptions options;
    options.oneCopy = settings.OneCopy;
    options.skipDuplicates = settings.SkipDuplicates;
    options.firefoxCacheFolder = settings.MozillaCachePath;
    coordinator_.setOptions(options);
}

void MainWindow::startMonitors() {
    coordinator_.startMonitors(settings_.watchedRows());
}

void MainWindow::storeFoundCacheFolder(const QString& startedWith, const QString& found) {
    // The folder the run started from is still the option: the user did not
    // change it meanwhile, and the found one takes its place.
    Settings& settings = settings_;
    if (settings.MozillaCachePath == startedWith.toStdString()) {
        settings.MozillaCachePath = found.toStdString();
        handOverOptions();
    }
}

// ---- Reports from the comb threads (queued) ----

void MainWindow::applyRunState(bool started) {
    // The user edits on while a run combs its snapshot; only another
    // manual comb waits for the end of a manual one.
    commands_->setCombEnabled(!started || !coordinator_.busy);
    if (started) {
        if (progressWindow_ != nullptr) {
            progressWindow_->setPosition(0);
            if (settings_.ShowNotifyProgressBar) {
                progressWindow_->setVisible(true);
            }
        }
        tray_.beginAnimation();
    } else {
        if (progressWindow_ != nullptr) {
            progressWindow_->setVisible(false);
        }
        tray_.endAnimation();
        tray_.setIconFromResource(kPictureAppIcon);
        commands_->setCombEnabled(true);
    }
}

void MainWindow::applyProgress(int percent) {
    if (progressWindow_ != nullptr) {
        progressWindow_->setPosition(percent < 0 ? 0 : (percent > 100 ? 100 : percent));
    }
}

void MainWindow::applyRunBrowser(const QString& browser) {
    if (progressWindow_ != nullptr) {
        progressWindow_->beginRun(browser);
    }
}

void MainWindow::applyCount(qulonglong done, qulonglong total) {
    if (progressWindow_ != nullptr) {
        progressWindow_->setCount(done, total);
    }
}

void MainWindow::showRunNotice(const RunSummary& summary) {
    const RunNotice notice = runNotice(summary, theLanguage());
    if (notice.isEmpty()) {
        return;
    }
    // Also on standard error, where a session keeps what its programs say.
    std::fprintf(stderr, "harvix: %s\n", qPrintable(notice.line()));
    std::fflush(stderr);
    tray_.showNotice(notice.title, notice.text, notice.warning, notice.folder);
}

}  // namespace harvix
