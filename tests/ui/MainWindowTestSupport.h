// A main window in a private world for the tests: a fake platform whose
// program folder is a temporary folder, a settings file that watches no
// browser, a recording notifier for the message boxes and a fake desktop
// for every dialog, so that nothing modal ever waits for a person.
#pragma once

#include <QAction>
#include <QMenu>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "filter/FilterSet.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"
#include "ui/ProgramState.h"
#include "ui/RecordingNotifier.h"
#include "ui/TrayIcon.h"

using namespace harvix;

// Answers the window's dialogs from queues and records what was asked.
class FakeDesktop : public Desktop {
public:
    // Answers of the file dialogs, in order; an empty queue means Cancel.
    std::deque<std::optional<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    int openAsked = 0;
    int saveAsked = 0;
    // The editor: changes the item and answers OK when set; Cancel otherwise.
    std::function<bool(FilterItem&)> editor;
    std::vector<std::string> editorCaptions;
    std::vector<ItemPlace> editorPlaces;
    // The options dialog: runs `options` when set and answers with its result.
    std::function<bool()> options;
    int optionsShown = 0;
    int aboutShown = 0;
    std::vector<QUrl> opened;
    // Menus shown: the texts of their items ("-" for a separator).
    std::vector<std::vector<QString>> menus;
    // The command to choose in the next menu (its action is triggered, as a
    // real menu does); -1: none.
    int menuChoice = -1;

    std::optional<std::string> chooseOpenFile(QWidget*, const fs::path&) override;
    std::optional<std::string> chooseSaveFile(QWidget*, const fs::path&) override;
    bool editFilterItem(QWidget*, const std::string& caption, FilterItem& item,
                        const ItemPlace& place) override;
    bool runOptions(QWidget*) override;
    void showAbout(QWidget*) override { ++aboutShown; }
    void openUrl(const QUrl& url) override { opened.push_back(url); }
    QAction* popupMenu(QMenu& menu, const QPoint&) override;
};

// The texts of a menu's items, "-" standing for a separator; command items
// only (a title line is left out).
std::vector<QString> MenuTexts(QMenu& menu);

// One main window with its world. The program folder holds Harvix.cfg
// (no browser watched, no autostart) and, when the test writes them,
// Filters/Default.flt and other filter files.
class MainWindowWorld {
public:
    MainWindowWorld();
    ~MainWindowWorld();

    // A filter file with `count` items: item i has content type i % 19,
    // minimum size 100 * i, URL "site<i>", folder "~/out/<i>", stem "f<i>".
    fs::path WriteFilter(const std::string& name, int count, const std::string& hint = {});
    // Makes the window (constructor and create) with FiltersFileName set to
    // `startFilter` (may be empty). The tray reports a notification area
    // unless `trayAvailable` is false.
    MainWindow& Open(const fs::path& startFilter, bool trayAvailable = true);

    MainWindow& window() { return *window_; }
    FilterSet& filter() { return window_->filterSet(); }
    FakeDesktop& desktop() { return *desktop_; }
    RecordingNotifier& notifier() { return messages_.notifier; }
    const fs::path& dir() const { return dir_.path(); }
    fs::path ProgramFolder() const { return dir_.path() / "prog"; }
    // The user's configuration folder; filter files go to Harvix/Filters in it.
    fs::path ConfigFolder() const { return dir_.path() / "config"; }
    fs::path UserFilters() const { return ConfigFolder() / "Harvix" / "Filters"; }

    int RowCount() const;
    QString Cell(int row, int column) const;
    Qt::CheckState CheckState(int row) const;
    void SetTrayAvailable(bool available) { trayAvailable_ = available; }
    // The current (focused) row of the list, -1 when none.
    int CurrentRow() const;

private:
    TempDir dir_;
    FakePlatform platform_;
    ScopedPlatform scopedPlatform_;
    ScopedRecordingNotifier messages_;
    FakeDesktop* desktop_ = nullptr;
    bool trayAvailable_ = true;
    std::unique_ptr<MainWindow> window_;
};
