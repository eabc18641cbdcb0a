// The main window: the filter set as a list with check boxes under a row of
// image buttons, and the one place where the user's commands are carried
// out (the buttons, keys and list menu, and the tray menu share one action
// per command). It owns the comb coordinator, the tray icon and the
// progress window, and it takes the comb threads' reports as queued
// signals.
//
// The window starts hidden; the program shows only its tray icon until the
// user asks for the window. Hiding it (Esc, the close box) never ends the
// program while a tray icon can bring it back; only Exit does. Without a
// notification area the window is the program's only presence: it is shown
// at start, and closing it ends the program.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <memory>
#include <string>

#include "app/Settings.h"
#include "engine/CombCoordinator.h"
#include "filter/FilterSet.h"
#include "ui/CacheWindow.h"
#include "ui/Commands.h"
#include "ui/Desktop.h"
#include "ui/RunNotice.h"
#include "ui/TrayIcon.h"

class QAction;
class QMenu;

namespace harvix {

class CombReports;
class FilterListModel;
class FilterListView;
class ImageButton;
class ProgressWindow;

// The program's web site and download page. It has none: its pages are the
// installed manual, which "Visit Our Site" and the about box's link open, and
// new versions come with the system's packages, which the manual's section
// on versions tells of. A real address, once there is one, goes here.
inline constexpr const char* kHarvixSiteUrl = "";
inline constexpr const char* kHarvixDownloadUrl = "";
// The web site, else the installed manual; the download page, else the
// manual's section on versions.
QUrl siteAddress();
QUrl downloadAddress();

class MainWindow : public QDialog {
    Q_OBJECT

public:
    // The window works on `settings`, which its owner has loaded and writes
    // back after the window is gone, and on `platform`.
    MainWindow(Settings& settings, IPlatform& platform, std::unique_ptr<Desktop> desktop = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Window creation: the progress window, the tray icon, the start-up
    // filter file (with its fallbacks), the coordinator's callbacks and the
    // browser monitors, then the controls' texts and contents. The window
    // stays hidden unless there is no notification area. False when the
    // window cannot be made.
    bool create();

    // Stops the browser monitors and any comb run and waits for their
    // threads; reports that arrive meanwhile are dropped. Afterwards no run
    // starts. Runs on any thread but a comb thread; the destructor runs it
    // at the latest. Idempotent.
    void shutdown();

    // ---- Operations of the window (user-interface thread) ----
    void showMainWindow();
    void updateTitle();
    void applyTexts();
    void askSaveChanges();
    // Saves the set to its file, or with `chooseName` (or when the set has
    // no file) to one the user chooses. A set loaded from a file that comes
    // with the program is saved to the same name in the user's filter folder
    // (the user is asked for a name when a file is there already); a file
    // that comes with the program is never written. A failure is told in a
    // warning box. True when the set was written.
    bool saveFilterSet(bool chooseName = false);
    int selectedRow() const;
    // Makes row `row` selected and current (or selected with `focusRow`
    // keeping the keyboard focus).
    void selectRow(int row, int focusRow = -1);
    // The list's menu as it would open now (items depend on the selection).
    std::unique_ptr<QMenu> buildListMenu();
    // The list's context menu for a request at the screen point
    // `globalPos`; `fromKeyboard` requests carry no point on the list.
    void showListMenu(const QPoint& globalPos, bool fromKeyboard);
    // Whether a tray host is there: without one the window stands in for
    // the tray icon (shown, and closing it ends the program). Called at
    // start and whenever the answer changes.
    void setTrayAvailable(bool available);

    // ---- The commands ----
    void newFilterSet();
    void openFilterSet();
    void save();
    void saveAs();
    void addItem();
    void deleteItem();
    void editItem();
    void moveUp();
    void moveDown();
    void openFolder();
    void checkAll();
    void uncheckAll();
    void showOptions();
    void showHelp();
    void comb(const BrowserRow& browser);
    // Opens the cache window (or brings it to the front).
    void browseCache();
    void showAbout();
    void visitSite();
    void downloadLastVersion();
    // Ends the program (as "harvix Close" and a termination signal do).
    void exitProgram();
    // Exit as the user chose it: a changed set is offered for saving first,
    // as when the window closes.
    void exitAsking();
    // A new filter item for this host and content type, in the filter
    // editor (the cache window's "Make filter item").
    void addItemFor(const QString& host, int contentType);

    // ---- State, for the tray icon, the start-up code and tests ----
    CombCoordinator& coordinator() { return coordinator_; }
    FilterSet& filterSet() { return filterSet_; }
    TrayIcon& tray() { return tray_; }
    CommandSet& commands() { return *commands_; }
    QAction* action(Command command) const { return commands_->action(command); }
    ProgressWindow* progressWindow() const { return progressWindow_; }
    FilterListView* filterList() const { return filterList_; }
    FilterListModel* filterModel() const { return model_; }
    ImageButton* button(const QAction* action) const;
    CombReports& combReports() { return *reports_; }
    bool isModified() const { return modified_; }
    bool isUntitled() const { return untitled_; }
    bool isInitialised() const { return initialised_; }
    bool isFirstShow() const { return firstShow_; }
    bool isTrayAvailable() const { return trayAvailable_; }
    // True once Exit has run: the event loop is ending.
    bool isExiting() const { return exiting_; }

signals:
    // Exit was chosen: the start-up code ends the event loop and deletes
    // the window object.
    void exitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void reject() override;
    void accept() override;

private:
    void buildControls();
    void connectCommands();
    void loadStartupFilter();
    void reloadList();
    void mark();
    void hideWindow();
    void applyRunState(bool started);
    void applyProgress(int percent);
    void applyRunBrowser(const QString& browser);
    void applyCount(qulonglong done, qulonglong total);
    // The end of a run: its notice in the tray (and on standard error).
    void showRunNotice(const harvix::RunSummary& summary);
    // The next run's filter set and options, handed to the coordinator.
    void handOverFilter();
    // Loads a filter file into the set and records it in the settings.
    bool loadFilterFile(const std::string& path);
    void handOverOptions();
    void startMonitors();
    void storeFoundCacheFolder(const QString& startedWith, const QString& found);

    Settings& settings_;
    IPlatform& platform_;
    std::unique_ptr<Desktop> desktop_;
    QPointer<CacheWindow> cacheWindow_;
    CombReports* reports_ = nullptr;
    // The filter set the user edits; each change is handed to the
    // coordinator as the next run's snapshot.
    FilterSet filterSet_;
    CombCoordinator coordinator_;
    CommandSet* commands_ = nullptr;
    ProgressWindow* progressWindow_ = nullptr;
    TrayIcon tray_;
    FilterListModel* model_ = nullptr;
    FilterListView* filterList_ = nullptr;
    std::vector<ImageButton*> buttons_;
    bool firstShow_ = true;
    bool modified_ = false;
    bool untitled_ = false;
    bool initialised_ = false;
    bool exiting_ = false;
    bool trayAvailable_ = true;
    // Set while a hide follows a question that was just asked (Esc, the
    // close box), so that one hide asks once.
    bool askedBeforeHide_ = false;
};

}  // namespace harvix
