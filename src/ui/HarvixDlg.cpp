#include "ui/HarvixDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTableWidget>
#include <QThread>
#include <chrono>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "controls/ImageButton.h"
#include "controls/PictureMenu.h"
#include "controls/Pictures.h"
#include "filter/ContentType.h"
#include "platform/Notifier.h"
#include "platform/Text.h"
#include "ui/AboutDlg.h"
#include "ui/EditFilterDlg.h"
#include "ui/OptionsDlg.h"
#include "ui/ProgressDlg.h"

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr const char* kProductName = "Harvix";
constexpr const char* kFilterFileTypes = "Filter Files (*.flt);;All Files (*)";
// How long a comb thread waits for the window to take a report before it
// goes on; the report still arrives, in order, when the window gets to it.
constexpr std::chrono::milliseconds kReportWait{2000};

// The window's layout in dialog units (x, y, width, height): the buttons'
// row above the list.
struct DluRect {
    int x, y, w, h;
};

struct ButtonSpec {
    int id;
    ButtonImage image;
    std::string LanguageTexts::*tooltip;
    DluRect rect;
};

const ButtonSpec kButtons[] = {
    {CHarvixDlg::IdNew, ButtonImage::New, &LanguageTexts::New, {9, 0, 33, 25}},
    {CHarvixDlg::IdOpen, ButtonImage::Open, &LanguageTexts::Open, {41, 0, 33, 25}},
    {CHarvixDlg::IdSave, ButtonImage::Save, &LanguageTexts::Save, {73, 0, 33, 25}},
    {CHarvixDlg::IdAdd, ButtonImage::Add, &LanguageTexts::Add, {105, 0, 33, 25}},
    {CHarvixDlg::IdDelete, ButtonImage::Delete, &LanguageTexts::Delete, {136, 0, 33, 25}},
    {CHarvixDlg::IdEdit, ButtonImage::Edit, &LanguageTexts::Edit, {168, 0, 33, 25}},
    {CHarvixDlg::IdUp, ButtonImage::Up, &LanguageTexts::Up, {200, 0, 33, 25}},
    {CHarvixDlg::IdDown, ButtonImage::Down, &LanguageTexts::Down, {232, 0, 33, 25}},
    {CHarvixDlg::IdOptions, ButtonImage::Options, &LanguageTexts::Options, {264, 0, 33, 25}},
    {CHarvixDlg::IdHelp, ButtonImage::Help, &LanguageTexts::Help, {296, 0, 33, 25}},
    {CHarvixDlg::IdCombIE, ButtonImage::CombIE, &LanguageTexts::CombIE, {366, 0, 33, 25}},
    {CHarvixDlg::IdCombMozilla,
     ButtonImage::CombMozilla,
     &LanguageTexts::CombMozilla,
     {398, 0, 33, 25}},
};
constexpr DluRect kListRect{9, 27, 422, 244};
// The client area: the list's margins on every side.
constexpr int kClientWidthDlu = 440;
constexpr int kClientHeightDlu = 278;

struct ColumnSpec {
    std::string LanguageTexts::*header;
    int width;  // pixels
};
const ColumnSpec kColumns[CHarvixDlg::kColumnCount] = {
    {&LanguageTexts::FilterListEnabled, 26},    {&LanguageTexts::FilterListContentType, 50},
    {&LanguageTexts::FilterListMinSize, 50},    {&LanguageTexts::FilterListURL, 210},
    {&LanguageTexts::FilterListMinWidth, 40},   {&LanguageTexts::FilterListMinHeight, 40},
    {&LanguageTexts::FilterListDirectory, 150}, {&LanguageTexts::FilterListFileNameDummy, 63},
};

// Dialog units to pixels: a quarter of the font's average character width
// across, an eighth of its height down.
QRect ToPixels(const QFontMetrics& metrics, const DluRect& r) {
    const int bx = metrics.averageCharWidth();
    const int by = metrics.height();
    return QRect(r.x * bx / 4, r.y * by / 8, r.w * bx / 4, r.h * by / 8);
}

// The tooltip of a control: the title line "Harvix" with the information
// picture, then the control's text.
QString TooltipHtml(const std::string& text) {
    return QStringLiteral(
               "<table cellspacing=\"0\" cellpadding=\"1\"><tr>"
               "<td><img src=\"%1\" width=\"16\" height=\"16\"></td>"
               "<td><b>&nbsp;%2</b></td></tr></table>%3")
        .arg(PicturePath(kPictureMenuAbout), QString::fromLatin1(kProductName),
             Q(text).toHtmlEscaped());
}

class DefaultDesktop final : public CHarvixDlg::IDesktop {
public:
    std::optional<std::string> ChooseOpenFile(QWidget* parent, const fs::path& folder) override {
        QFileDialog dialog(parent, QString(), Q(PathToUtf8(folder)),
                           QString::fromLatin1(kFilterFileTypes));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix(QStringLiteral("flt"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().front().toStdString();
    }

    std::optional<std::string> ChooseSaveFile(QWidget* parent, const fs::path& folder) override {
        QFileDialog dialog(parent, QString(), Q(PathToUtf8(folder)),
                           QString::fromLatin1(kFilterFileTypes));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("flt"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().front().toStdString();
    }

    bool EditFilterItem(QWidget* parent, const std::string& caption,
                        CCacheFilter::CFilterItem& item) override {
        CEditFilterDlg dialog(Q(caption), &item, parent);
        return dialog.exec() == QDialog::Accepted;
    }

    bool RunOptions(QWidget* parent) override {
        COptionsDlg dialog(parent);
        return dialog.exec() == QDialog::Accepted;
    }

    void ShowAbout(QWidget* parent) override {
        CAboutDlg dialog(QString::fromLatin1(kHarvixSiteUrl), parent);
        dialog.exec();
    }

    void OpenUrl(const QUrl& url) override {
        QDesktopServices::openUrl(url);  // failures are not reported
    }

    QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) override {
        return menu.exec(globalPos);
    }
};

}  // namespace

// The comb threads reach the window through this record, which is the
// context of the coordinator's callbacks. The window clears `window` (under
// `lock`) before anything of it is destroyed, so a report that comes late
// finds no window and returns at once instead of waiting for a window that
// will never answer. Records are never freed: a comb thread that is still
// inside a report while the program ends never touches freed memory. There
// is one per main window, so one per process outside the tests.
struct CHarvixDlg::Bridge {
    std::mutex lock;
    std::condition_variable done;
    CHarvixDlg* window = nullptr;

    static Bridge* Make() {
        static std::mutex listLock;
        static auto* all = new std::vector<std::unique_ptr<Bridge>>;
        const std::lock_guard<std::mutex> guard(listLock);
        all->push_back(std::make_unique<Bridge>());
        return all->back().get();
    }
};

std::unique_ptr<CHarvixDlg::IDesktop> CHarvixDlg::MakeDefaultDesktop() {
    return std::make_unique<DefaultDesktop>();
}

CHarvixDlg::CHarvixDlg(std::unique_ptr<IDesktop> desktop)
    : QDialog(nullptr),
      bridge_(Bridge::Make()),
      desktop_(desktop ? std::move(desktop) : MakeDefaultDesktop()) {
    bridge_->window = this;
    setWindowIcon(PictureIcon(kPictureAppIcon));
    BuildControls();
}

CHarvixDlg::~CHarvixDlg() {
    Shutdown();
    delete progressWindow_;
    progressWindow_ = nullptr;
    // The tray icon goes with `tray_`; the coordinator, destroyed after it,
    // writes the settings file.
}

void CHarvixDlg::Shutdown() {
    {
        // From here on the comb threads' reports find no window.
        const std::lock_guard<std::mutex> guard(bridge_->lock);
        bridge_->window = nullptr;
    }
    bridge_->done.notify_all();
    main_.Shutdown();
}

void CHarvixDlg::BuildControls() {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // Tooltips: blue text on light grey, up for ten seconds.
    setStyleSheet(
        QStringLiteral("QToolTip { color: rgb(0, 0, 255); background-color: rgb(224, 224, 224);"
                       " border: 1px solid rgb(160, 160, 160); padding: 2px; }"));

    const QFontMetrics metrics(font());
    for (const ButtonSpec& spec : kButtons) {
        auto* button = new CImageButton(this);
        button->SetImages(ButtonImageIcon(spec.image, false), ButtonImageIcon(spec.image, true));
        button->setCursor(Qt::PointingHandCursor);
        button->setGeometry(ToPixels(metrics, spec.rect));
        button->setToolTipDuration(10000);
        button->setText(QString());
        const int id = spec.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
        button->installEventFilter(this);
        buttons_.emplace_back(id, button);
    }

    filterList_ = new QTableWidget(0, kColumnCount, this);
    filterList_->setObjectName(QStringLiteral("filterList"));
    filterList_->setGeometry(ToPixels(metrics, kListRect));
    filterList_->setSelectionMode(QAbstractItemView::SingleSelection);
    filterList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    filterList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    filterList_->setShowGrid(true);
    filterList_->setWordWrap(false);
    filterList_->setTextElideMode(Qt::ElideRight);
    filterList_->verticalHeader()->setVisible(false);
    filterList_->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    filterList_->horizontalHeader()->setHighlightSections(false);
    filterList_->horizontalHeader()->setStretchLastSection(true);
    filterList_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    filterList_->setToolTipDuration(10000);
    for (int column = 0; column < kColumnCount; ++column) {
        filterList_->setHorizontalHeaderItem(column, new QTableWidgetItem);
        filterList_->setColumnWidth(column, kColumns[column].width);
    }
    // Blue text, and a selection that stays visible without the focus.
    QPalette palette = filterList_->palette();
    palette.setColor(QPalette::Active, QPalette::Text, QColor(0, 0, 255));
    palette.setColor(QPalette::Inactive, QPalette::Text, QColor(0, 0, 255));
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight).lighter(130));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    filterList_->setPalette(palette);
    filterList_->installEventFilter(this);
    filterList_->viewport()->installEventFilter(this);
    connect(filterList_, &QTableWidget::itemChanged, this, &CHarvixDlg::OnItemChanged);
    connect(filterList_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { OnEdit(); });
    setFocusProxy(filterList_);

    const QRect client = ToPixels(metrics, {0, 0, kClientWidthDlu, kClientHeightDlu});
    setFixedSize(client.size());
}

bool CHarvixDlg::Create() {
    // The progress window: no parent window, made transparent, hidden.
    progressWindow_ = new CProgressDlg(TheSettings());
    progressWindow_->ApplyTransparency();
    progressWindow_->hide();

    // The tray icon with the application picture and the animation frames.
    // Its left press shows the window; its menu's commands come here.
    tray_.Create(this, kPictureAppIcon);
    tray_.LoadAnimationFrames();
    connect(&tray_, &CSystemTray::showMainWindowRequested, this, &CHarvixDlg::ShowMainWindow);
    // Queued: a command may open a modal dialog, which must not run inside
    // the tray menu's own signal while that menu goes away.
    connect(
        &tray_, &CSystemTray::trayCommand, this, [this](int id) { OnCommand(id); },
        Qt::QueuedConnection);

    LoadStartupFilter();

    main_.runStateCallback = &CHarvixDlg::OnRunState;
    main_.runStateContext = bridge_;
    main_.progressCallback = &CHarvixDlg::OnProgress;
    main_.progressContext = bridge_;
    main_.StartMonitors();

    InitControls();
    return true;
}

void CHarvixDlg::LoadStartupFilter() {
    Settings& settings = TheSettings();
    if (Filter().Load(settings.FiltersFileName)) {
        return;
    }
    if (Filter().Load(PathToUtf8(settings.defaultFilterPath))) {
        return;
    }
    ShowMessage(TheLanguage().ErrorLoadDefaultFilter, MessageIcon::Error, MessageButtons::Ok);
    OnNew();
}

void CHarvixDlg::InitControls() {
    ApplyTexts();
    FillList();
    UpdateTitle();
    initialised_ = true;
}

// ---- Window operations ----

void CHarvixDlg::ShowMainWindow() {
    if (firstShow_) {
        // The first show turns the hidden start-up window into an ordinary
        // one, centred on the screen.
        firstShow_ = false;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    askedBeforeHide_ = false;
    showNormal();
    raise();
    activateWindow();
}

void CHarvixDlg::FillList() {
    const QSignalBlocker noSelectionReports(filterList_->selectionModel());
    filterList_->setRowCount(0);
    for (std::size_t i = 0; i < Filter().items.size(); ++i) {
        SetRow(static_cast<int>(i), true);
    }
}

void CHarvixDlg::SetRow(int index, bool insert) {
    const auto& items = Filter().items;
    if (index < 0 || static_cast<std::size_t>(index) >= items.size()) {
        return;
    }
    const CCacheFilter::CFilterItem& item = *items[static_cast<std::size_t>(index)];
    if (insert) {
        filterList_->insertRow(index);
    }
    const QString texts[kColumnCount] = {
        QString(),
        Q(ContentTypeName(item.contentType)),
        QString::number(item.minSize),
        Q(item.url),
        QString::number(item.minWidth),
        QString::number(item.minHeight),
        Q(item.directoryTemplate),
        Q(item.fileNameDummy),
    };
    for (int column = 0; column < kColumnCount; ++column) {
        auto* cell = new QTableWidgetItem(texts[column]);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (column == 0) {
            flags |= Qt::ItemIsUserCheckable;
            cell->setCheckState(item.disabled ? Qt::Unchecked : Qt::Checked);
        } else if (!texts[column].isEmpty()) {
            cell->setToolTip(texts[column]);
        }
        cell->setFlags(flags);
        filterList_->setItem(index, column, cell);
    }
}

void CHarvixDlg::UpdateTitle() {
    const QString file = untitled_ ? Q(TheLanguage().NewFilter) : Q(TheSettings().FiltersFileName);
    setWindowTitle(QStringLiteral("%1 - [%2%3]")
                       .arg(QString::fromLatin1(kProductName), file,
                            modified_ ? QStringLiteral("*") : QString()));
}

void CHarvixDlg::ApplyTexts() {
    const LanguageTexts& texts = TheLanguage();
    for (const ButtonSpec& spec : kButtons) {
        if (CImageButton* button = Button(spec.id)) {
            button->setText(QString());
            button->setToolTip(TooltipHtml(texts.*spec.tooltip));
        }
    }
    const std::string& hint = Filter().hint;
    filterList_->setToolTip(hint.empty() ? QString() : TooltipHtml(hint));
    for (int column = 0; column < kColumnCount; ++column) {
        QTableWidgetItem* header = filterList_->horizontalHeaderItem(column);
        header->setText(Q(texts.*kColumns[column].header));
        header->setToolTip(Q(texts.*kColumns[column].header));
    }
}

void CHarvixDlg::AskSaveChanges() {
    if (!modified_) {
        return;
    }
    if (ShowMessage(TheLanguage().WarningChanged, MessageIcon::Warning, MessageButtons::YesNo) ==
        MessageResult::Yes) {
        SaveFilterSet();
    }
}

void CHarvixDlg::SaveFilterSet() {
    std::string path;
    const bool wasUntitled = untitled_;
    if (untitled_) {
        const std::optional<std::string> chosen =
            desktop_->ChooseSaveFile(this, TheSettings().defaultFilterPath.parent_path());
        if (!chosen) {
            return;  // cancelled: nothing changes
        }
        path = *chosen;
        untitled_ = false;
    } else {
        path = TheSettings().FiltersFileName;
    }
    if (!Filter().Save(path)) {
        // Nothing was written (the old file, if any, is intact): the set
        // keeps its changes and, if it had no file, stays without one.
        untitled_ = wasUntitled;
        UpdateTitle();
        return;
    }
    modified_ = false;
    UpdateTitle();
}

int CHarvixDlg::SelectedRow() const {
    const QModelIndexList rows = filterList_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void CHarvixDlg::SelectRow(int row, int focusRow) {
    QItemSelectionModel* selection = filterList_->selectionModel();
    QAbstractItemModel* model = filterList_->model();
    if (row < 0 || row >= model->rowCount()) {
        selection->clearSelection();
        return;
    }
    if (focusRow < 0 || focusRow >= model->rowCount()) {
        focusRow = row;
    }
    selection->setCurrentIndex(model->index(focusRow, 0), QItemSelectionModel::NoUpdate);
    selection->select(model->index(row, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    filterList_->scrollTo(model->index(row, 0));
}

CImageButton* CHarvixDlg::Button(int id) const {
    for (const auto& [buttonId, button] : buttons_) {
        if (buttonId == id) {
            return button;
        }
    }
    return nullptr;
}

void CHarvixDlg::Mark() {
    modified_ = true;
    UpdateTitle();
}

bool CHarvixDlg::Busy() const {
    return main_.busy;
}

// ---- Commands ----

bool CHarvixDlg::OnCommand(int id) {
    switch (id) {
        case IdNew:
            OnNew();
            return true;
        case IdOpen:
            OnOpen();
            return true;
        case IdSave:
            OnSave();
            return true;
        case IdAdd:
        case IdMenuAdd:
            OnAdd();
            return true;
        case IdDelete:
        case IdMenuDelete:
            OnDelete();
            return true;
        case IdEdit:
        case IdMenuEdit:
            OnEdit();
            return true;
        case IdUp:
        case IdMenuUp:
            OnUp();
            return true;
        case IdDown:
        case IdMenuDown:
            OnDown();
            return true;
        case IdMenuOpenFolder:
            OnOpenFolder();
            return true;
        case IdMenuCheckAll:
            OnCheckAll();
            return true;
        case IdMenuUncheckAll:
            OnUncheckAll();
            return true;
        case IdOptions:
        case IdTrayOptions:
            OnOptions();
            return true;
        case IdHelp:
        case IdTrayHelp:
            OnHelp();
            return true;
        case IdCombIE:
            OnCombIE();
            return true;
        case IdCombMozilla:
            OnCombMozilla();
            return true;
        case IdTrayFilters:
            OnFilters();
            return true;
        case IdTrayAbout:
            OnAbout();
            return true;
        case IdTrayVisit:
            OnVisitSite();
            return true;
        case IdTrayLastVersion:
            OnDownloadLastVersion();
            return true;
        case IdTrayExit:
            OnExit();
            return true;
        default:
            return false;
    }
}

void CHarvixDlg::OnNew() {
    if (Busy()) {
        return;
    }
    AskSaveChanges();
    Filter().Clear();
    FillList();
    modified_ = true;
    untitled_ = true;
    ApplyTexts();
    UpdateTitle();
}

void CHarvixDlg::OnOpen() {
    if (Busy()) {
        return;
    }
    AskSaveChanges();
    const std::optional<std::string> path =
        desktop_->ChooseOpenFile(this, TheSettings().defaultFilterPath);
    if (!path) {
        return;
    }
    Filter().Load(*path);  // a file that is no filter file leaves an empty set
    FillList();
    untitled_ = false;
    modified_ = false;
    ApplyTexts();
    UpdateTitle();
}

void CHarvixDlg::OnSave() {
    if (Busy()) {
        return;
    }
    SaveFilterSet();
    UpdateTitle();
}

void CHarvixDlg::OnAdd() {
    if (Busy()) {
        return;
    }
    const Settings& settings = TheSettings();
    auto item = std::make_unique<CCacheFilter::CFilterItem>();
    item->directoryTemplate = settings.DefaultCombPath;
    item->fileNameDummy = settings.DefaultFileNameDummy;
    if (!desktop_->EditFilterItem(this, TheLanguage().Add, *item)) {
        return;  // the new item is discarded
    }
    const int selected = SelectedRow();
    const int position = selected >= 0 ? selected + 1 : -1;
    Filter().InsertItem(item.release(), position);
    FillList();
    const int rows = filterList_->rowCount();
    SelectRow(position >= 0 && position < rows ? position : rows - 1);
    Mark();
}

void CHarvixDlg::OnDelete() {
    if (Busy()) {
        return;
    }
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    if (ShowMessage(TheLanguage().WarningAreYouSure, MessageIcon::Warning, MessageButtons::YesNo) !=
        MessageResult::Yes) {
        return;
    }
    Filter().RemoveItem(static_cast<uint32_t>(row));
    FillList();
    const int rows = filterList_->rowCount();
    SelectRow(row < rows ? row : rows - 1);
    Mark();
}

void CHarvixDlg::OnEdit() {
    if (Busy()) {
        return;
    }
    const int row = SelectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= Filter().items.size()) {
        return;
    }
    CCacheFilter::CFilterItem& item = *Filter().items[static_cast<std::size_t>(row)];
    if (!desktop_->EditFilterItem(this, TheLanguage().Edit, item)) {
        return;
    }
    SetRow(row, false);
    item.ParseUrl(Filter());
    Mark();
}

void CHarvixDlg::OnUp() {
    if (Busy()) {
        return;
    }
    const int row = SelectedRow();
    if (row <= 0) {
        return;
    }
    Filter().MoveItemUp(static_cast<uint32_t>(row));
    FillList();
    SelectRow(row - 1, row);
    Mark();
}

void CHarvixDlg::OnDown() {
    if (Busy()) {
        return;
    }
    const int row = SelectedRow();
    if (row < 0 || row + 1 >= filterList_->rowCount()) {
        return;
    }
    Filter().MoveItemDown(static_cast<uint32_t>(row));
    FillList();
    SelectRow(row + 1, row);
    Mark();
}

void CHarvixDlg::OnOpenFolder() {
    const int row = SelectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= Filter().items.size()) {
        return;
    }
    CCacheFilter::CFilterItem& item = *Filter().items[static_cast<std::size_t>(row)];
    item.ParseUrl(Filter());
    // The folder of the last load or comb run; an item added since then has
    // none yet, and the desktop is asked to open an empty address.
    desktop_->OpenUrl(item.directory.empty() ? QUrl() : QUrl::fromLocalFile(Q(item.directory)));
}

void CHarvixDlg::OnCheckAll() {
    if (Busy()) {
        return;
    }
    for (auto& item : Filter().items) {
        item->disabled = false;
    }
    FillList();
    Mark();
}

void CHarvixDlg::OnUncheckAll() {
    if (Busy()) {
        return;
    }
    for (auto& item : Filter().items) {
        item->disabled = true;
    }
    FillList();
    Mark();
}

void CHarvixDlg::OnOptions() {
    if (Busy()) {
        return;
    }
    Settings& settings = TheSettings();
    const std::string language = settings.Language;
    if (!desktop_->RunOptions(this)) {
        return;
    }
    if (settings.Language != language) {
        ApplyTexts();
    }
    // Monitors of browsers no longer watched stop.
    const bool watched[CHarvixMain::kBrowserKinds] = {settings.Mozilla, settings.IE,
                                                      settings.Maxthon};
    for (std::size_t kind = 0; kind < main_.monitors.size(); ++kind) {
        if (!watched[kind]) {
            main_.monitors[kind].Stop();
        }
    }
    main_.StartMonitors();
}

void CHarvixDlg::OnHelp() {
    if (Busy()) {
        return;
    }
    desktop_->OpenUrl(QUrl::fromLocalFile(Q(PathToUtf8(TheSettings().helpPath))));
}

void CHarvixDlg::OnCombIE() {
    if (Busy()) {
        return;
    }
    main_.StartComb(CHarvixMain::IE);
}

void CHarvixDlg::OnCombMozilla() {
    if (Busy()) {
        return;
    }
    main_.StartComb(CHarvixMain::Mozilla);
}

void CHarvixDlg::OnFilters() {
    ShowMainWindow();
}

void CHarvixDlg::OnAbout() {
    desktop_->ShowAbout(this);
}

void CHarvixDlg::OnVisitSite() {
    desktop_->OpenUrl(QUrl(QString::fromLatin1(kHarvixSiteUrl)));
}

void CHarvixDlg::OnDownloadLastVersion() {
    desktop_->OpenUrl(QUrl(QString::fromLatin1(kHarvixDownloadUrl)));
}

void CHarvixDlg::OnExit() {
    // No question about unsaved changes. The start-up code ends the event
    // loop and deletes this object, whose coordinator saves the settings.
    exiting_ = true;
    hide();
    emit exitRequested();
}

// ---- The list's context menu ----

std::unique_ptr<QMenu> CHarvixDlg::BuildListMenu() {
    const LanguageTexts& texts = TheLanguage();
    auto menu = std::make_unique<CPictureMenu>(this);
    menu->AddCommand(IdMenuAdd, Q(texts.Add), kPictureMenuAdd);
    if (SelectedRow() >= 0) {
        menu->AddCommand(IdMenuDelete, Q(texts.Delete), kPictureMenuDelete);
        menu->AddCommand(IdMenuEdit, Q(texts.Edit), kPictureMenuEdit);
        menu->AddSeparator();
        menu->AddCommand(IdMenuUp, Q(texts.Up), kPictureMenuUp);
        menu->AddCommand(IdMenuDown, Q(texts.Down), kPictureMenuDown);
        menu->AddSeparator();
        menu->AddCommand(IdMenuOpenFolder, Q(texts.OpenFolder), kPictureMenuOpenFolder);
    }
    menu->AddSeparator();
    menu->AddCommand(IdMenuCheckAll, Q(texts.CheckAll), kPictureMenuCheckAll);
    menu->AddCommand(IdMenuUncheckAll, Q(texts.UncheckAll), kPictureMenuUncheckAll);
    return menu;
}

void CHarvixDlg::OnListContextMenu(const QPoint& globalPos, bool fromKeyboard) {
    if (fromKeyboard || Busy()) {
        return;
    }
    const QRect listRect(filterList_->mapToGlobal(QPoint(0, 0)), filterList_->size());
    if (!listRect.contains(globalPos)) {
        return;
    }
    std::unique_ptr<QMenu> menu = BuildListMenu();
    if (QAction* chosen = desktop_->PopupMenu(*menu, globalPos)) {
        const int id = CPictureMenu::CommandId(chosen);
        if (id >= 0) {
            OnCommand(id);
        }
    }
}

// ---- Check boxes ----

void CHarvixDlg::OnItemChanged(QTableWidgetItem* cell) {
    if (!initialised_ || cell == nullptr || cell->column() != 0) {
        return;
    }
    const int row = cell->row();
    auto& items = Filter().items;
    if (row < 0 || static_cast<std::size_t>(row) >= items.size()) {
        return;
    }
    const bool disabled = cell->checkState() != Qt::Checked;
    CCacheFilter::CFilterItem& item = *items[static_cast<std::size_t>(row)];
    if (item.disabled == disabled) {
        return;  // the window's own row writes
    }
    // The title shows the "*" from its next update on.
    item.disabled = disabled;
    modified_ = true;
}

// ---- Keys, closing and hiding ----

bool CHarvixDlg::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        return PreTranslateKey(static_cast<QKeyEvent*>(event));
    }
    if (type == QEvent::ContextMenu &&
        (watched == filterList_ || watched == filterList_->viewport())) {
        auto* request = static_cast<QContextMenuEvent*>(event);
        OnListContextMenu(request->globalPos(), request->reason() == QContextMenuEvent::Keyboard);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// The window's key table. Returns true when the key is consumed.
bool CHarvixDlg::PreTranslateKey(QKeyEvent* event) {
    ctrlDown_ = (event->modifiers() & Qt::ControlModifier) != 0;
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    switch (event->key()) {
        case Qt::Key_Escape:
            AskSaveChanges();
            askedBeforeHide_ = true;
            return false;  // goes on: the dialog's cancel action hides the window
        case Qt::Key_Return:
        case Qt::Key_Enter:
            OnEdit();
            return true;
        case Qt::Key_N:
            if (ctrlDown_) {
                OnNew();
            }
            return false;
        case Qt::Key_O:
            if (ctrlDown_) {
                OnOpen();
            }
            return false;
        case Qt::Key_S:
            if (ctrlDown_) {
                OnSave();
            }
            return false;
        case Qt::Key_Insert:
            OnAdd();
            return true;
        case Qt::Key_Delete:
            OnDelete();
            return false;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (!ctrlDown_) {
                return false;
            }
            // The moved row ends up selected and focused, as the list's own
            // Ctrl+arrow would leave it after the move.
            if (event->key() == Qt::Key_Up) {
                OnUp();
            } else {
                OnDown();
            }
            SelectRow(SelectedRow());
            return true;
        case Qt::Key_F1:
            OnHelp();
            return true;
        default:
            return false;
    }
}

void CHarvixDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (exiting_) {
        return;
    }
    AskSaveChanges();
    askedBeforeHide_ = true;
    HideWindow();
}

void CHarvixDlg::reject() {
    HideWindow();
}

void CHarvixDlg::accept() {
    // The window has no OK action: it is never closed this way.
}

void CHarvixDlg::HideWindow() {
    hide();
    askedBeforeHide_ = false;
}

void CHarvixDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous() && !exiting_ && !askedBeforeHide_ && modified_) {
        askedBeforeHide_ = true;
        AskSaveChanges();
    }
}

// ---- Reports from the comb threads ----

void CHarvixDlg::RunOnUiThread(Bridge* bridge, std::function<void(CHarvixDlg&)> work) {
    if (bridge == nullptr) {
        return;
    }
    std::unique_lock<std::mutex> guard(bridge->lock);
    CHarvixDlg* window = bridge->window;
    if (window == nullptr) {
        return;
    }
    if (QThread::currentThread() == window->thread()) {
        guard.unlock();
        work(*window);
        return;
    }
    // Queued while the lock holds the window alive; if the window is deleted
    // before the call runs, Qt drops it.
    auto finished = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        window,
        [bridge, window, work = std::move(work), finished] {
            work(*window);
            const std::lock_guard<std::mutex> done(bridge->lock);
            *finished = true;
            bridge->done.notify_all();
        },
        Qt::QueuedConnection);
    bridge->done.wait_for(guard, kReportWait,
                          [&] { return *finished || bridge->window == nullptr; });
}

void CHarvixDlg::OnRunState(void* context, int32_t started) {
    RunOnUiThread(static_cast<Bridge*>(context),
                  [started](CHarvixDlg& window) { window.ApplyRunState(started != 0); });
}

void CHarvixDlg::OnProgress(void* context, int32_t percent) {
    RunOnUiThread(static_cast<Bridge*>(context),
                  [percent](CHarvixDlg& window) { window.ApplyProgress(percent); });
}

void CHarvixDlg::ApplyRunState(bool started) {
    if (started) {
        filterList_->setEnabled(false);
        if (progressWindow_ != nullptr) {
            progressWindow_->SetPos(0);
            if (TheSettings().ShowNotifyProgressBar) {
                progressWindow_->ShowWindow(true);
            }
        }
        tray_.BeginAnimation();
    } else {
        if (progressWindow_ != nullptr) {
            progressWindow_->ShowWindow(false);
        }
        tray_.EndAnimation();
        tray_.SetIconFromResource(kPictureAppIcon);
        filterList_->setEnabled(true);
    }
}

void CHarvixDlg::ApplyProgress(int percent) {
    if (progressWindow_ != nullptr) {
        progressWindow_->SetPos(percent < 0 ? 0 : (percent > 100 ? 100 : percent));
    }
}
