// The main window: the filter set as a list with check boxes under a row of
// image buttons, and the one place where every user command of the program
// is carried out (its buttons, keys and list menu, and the tray menu). It
// owns the comb coordinator, the tray icon and the progress window, and it
// receives the coordinator's run-state and progress reports from the comb
// threads.
//
// The window starts hidden; the program shows only its tray icon until the
// user asks for the window. Hiding it (Esc, the close box) never ends the
// program; only the tray menu's Exit does.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/HarvixMain.h"
#include "filter/CacheFilter.h"
#include "ui/SystemTray.h"

class QAction;
class QMenu;
class QTableWidget;
class QTableWidgetItem;
class CImageButton;
class CProgressDlg;

namespace fs = std::filesystem;

// The maker's web site and download page. example.org is a domain reserved
// for documentation, so these stay harmless until real addresses exist.
inline constexpr const char* kHarvixSiteUrl = "https://harvix.example.org/";
inline constexpr const char* kHarvixDownloadUrl = "https://harvix.example.org/download";

class CHarvixDlg : public QDialog {
    Q_OBJECT

public:
    // Command ids: the buttons', the list menu's and the tray menu's.
    enum CommandId : int {
        IdNew = 1023,
        IdOpen = 1002,
        IdSave = 1003,
        IdAdd = 1004,
        IdDelete = 1005,
        IdEdit = 1006,
        IdUp = 1007,
        IdDown = 1008,
        IdOptions = 1010,
        IdHelp = 1011,
        IdCombMozilla = 1026,
        IdCombIE = 1027,
        IdMenuAdd = 4353,
        IdMenuEdit = 4354,
        IdMenuDelete = 4355,
        IdMenuUp = 4356,
        IdMenuDown = 4357,
        IdMenuOpenFolder = 4358,
        IdMenuCheckAll = 4359,
        IdMenuUncheckAll = 4360,
        IdTrayExit = 4097,
        IdTrayOptions = 4098,
        IdTrayAbout = 4099,
        IdTrayVisit = 4100,
        IdTrayLastVersion = 4101,
        IdTrayHelp = 4103,
        IdTrayFilters = 4104,
    };
    // The list control's id; the tooltip of the list belongs to it.
    static constexpr int kFilterListId = 1001;
    static constexpr int kColumnCount = 8;

    // What the window needs from the desktop and from other windows: file
    // dialogs, the filter editor, the options dialog, the about box, the
    // shell's open action and popup menus. The default shows the real
    // thing; tests put in their own so that nothing modal ever waits for a
    // person. Message boxes go through the notifier (platform/Notifier.h).
    class IDesktop {
    public:
        virtual ~IDesktop() = default;
        // A file to open or to save as (overwrite asked), starting in
        // `folder`; nothing when the user cancelled.
        virtual std::optional<std::string> ChooseOpenFile(QWidget* parent,
                                                          const fs::path& folder) = 0;
        virtual std::optional<std::string> ChooseSaveFile(QWidget* parent,
                                                          const fs::path& folder) = 0;
        // The filter editor on `item`, titled `caption`; true on OK (the item
        // was written), false on Cancel (the item is untouched).
        virtual bool EditFilterItem(QWidget* parent, const std::string& caption,
                                    CCacheFilter::CFilterItem& item) = 0;
        // The options dialog; true on OK.
        virtual bool RunOptions(QWidget* parent) = 0;
        virtual void ShowAbout(QWidget* parent) = 0;
        // Opens a file, folder or web address with the desktop's default action.
        virtual void OpenUrl(const QUrl& url) = 0;
        // Shows `menu` at the screen point and returns the chosen action, or
        // null.
        virtual QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) = 0;
    };
    // The real dialogs and the desktop's open action.
    static std::unique_ptr<IDesktop> MakeDefaultDesktop();

    explicit CHarvixDlg(std::unique_ptr<IDesktop> desktop = nullptr);
    ~CHarvixDlg() override;
    CHarvixDlg(const CHarvixDlg&) = delete;
    CHarvixDlg& operator=(const CHarvixDlg&) = delete;

    // Window creation: the progress window, the tray icon, the start-up
    // filter file (with its fallbacks), the coordinator's callbacks and the
    // browser monitors, then the controls' texts and contents. The window
    // stays hidden. False when the window cannot be made.
    bool Create();

    // Stops the browser monitors and any comb run and waits for their
    // threads; reports that arrive meanwhile return at once. Afterwards no
    // run starts. Runs on any thread but a comb thread; the destructor runs
    // it at the latest. Idempotent.
    void Shutdown();

    // ---- Operations of the window (user-interface thread) ----
    void ShowMainWindow();
    void FillList();
    void SetRow(int index, bool insert);
    void UpdateTitle();
    void ApplyTexts();
    void AskSaveChanges();
    void SaveFilterSet();
    int SelectedRow() const;
    // Makes row `row` selected and current (or selected with `focusRow`
    // keeping the keyboard focus).
    void SelectRow(int row, int focusRow = -1);

    // Runs the command with this id; unknown ids do nothing. Returns
    // whether the id is a command of the window.
    bool OnCommand(int id);

    // The commands, one per row of the command table.
    void OnNew();
    void OnOpen();
    void OnSave();
    void OnAdd();
    void OnDelete();
    void OnEdit();
    void OnUp();
    void OnDown();
    void OnOpenFolder();
    void OnCheckAll();
    void OnUncheckAll();
    void OnOptions();
    void OnHelp();
    void OnCombIE();
    void OnCombMozilla();
    void OnFilters();
    void OnAbout();
    void OnVisitSite();
    void OnDownloadLastVersion();
    void OnExit();

    // The list's context menu for a request at the screen point
    // `globalPos`; `fromKeyboard` requests carry no point on the list.
    void OnListContextMenu(const QPoint& globalPos, bool fromKeyboard);
    // The list menu as it would open now (items depend on the selection).
    std::unique_ptr<QMenu> BuildListMenu();

    // ---- Reports from the coordinator (comb threads) ----
    static void OnRunState(void* context, int32_t started);
    static void OnProgress(void* context, int32_t percent);

    // ---- State, for the tray icon, the start-up code and tests ----
    CHarvixMain& Main() { return main_; }
    CCacheFilter& Filter() { return main_.filter; }
    CSystemTray& Tray() { return tray_; }
    CProgressDlg* ProgressWindow() const { return progressWindow_; }
    QTableWidget* FilterList() const { return filterList_; }
    CImageButton* Button(int id) const;
    bool IsModified() const { return modified_; }
    bool IsUntitled() const { return untitled_; }
    bool IsInitialised() const { return initialised_; }
    bool IsFirstShow() const { return firstShow_; }
    // True once Exit has run: the event loop is ending.
    bool IsExiting() const { return exiting_; }

signals:
    // Exit was chosen: the start-up code ends the event loop and deletes
    // the window object.
    void exitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void reject() override;
    void accept() override;

private:
    // Hands `work` to the user-interface thread and waits until it has run
    // there; gives up when the window goes away meanwhile.
    struct Bridge;
    static void RunOnUiThread(Bridge* bridge, std::function<void(CHarvixDlg&)> work);

    void BuildControls();
    void InitControls();
    void LoadStartupFilter();
    bool PreTranslateKey(QKeyEvent* event);
    void OnItemChanged(QTableWidgetItem* cell);
    void Mark();
    bool Busy() const;
    void HideWindow();
    void ApplyRunState(bool started);
    void ApplyProgress(int percent);

    // The comb threads' way to this window; it outlives the window.
    Bridge* bridge_ = nullptr;
    std::unique_ptr<IDesktop> desktop_;
    CHarvixMain main_;
    CProgressDlg* progressWindow_ = nullptr;
    CSystemTray tray_;
    QTableWidget* filterList_ = nullptr;
    std::vector<std::pair<int, CImageButton*>> buttons_;
    bool firstShow_ = true;
    bool modified_ = false;
    bool untitled_ = false;
    bool initialised_ = false;
    bool ctrlDown_ = false;
    bool exiting_ = false;
    // Set while a hide follows a question that was just asked (Esc, the
    // close box), so that one hide asks once.
    bool askedBeforeHide_ = false;
};
