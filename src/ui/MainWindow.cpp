#include "ui/MainWindow.h"
#include "platform/Platform.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <cerrno>
#include <cstring>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "controls/ImageButton.h"
#include "controls/Pictures.h"
#include "platform/Path.h"
#include "ui/CombReports.h"
#include "ui/Desktop.h"
#include "ui/FilterListModel.h"
#include "ui/FilterListView.h"
#include "ui/Notifier.h"
#include "ui/ProgramState.h"
#include "ui/ProgressWindow.h"

namespace harvix {
namespace {

constexpr const char* kProductName = "Harvix";

// Each button: its 32-pixel image with room around it; the buttons stand
// side by side above the list, the comb buttons at its right end.
constexpr QSize kButtonSize{48, 43};
// Margins around the buttons and the list, and between the two.
constexpr QMargins kMargins{13, 0, 14, 12};
constexpr int kRowGap = 4;

// Column widths of the filter list, in pixels.
constexpr int kColumnWidths[FilterListModel::kColumnCount] = {26, 50, 50, 210, 40, 40, 150, 63};

// The tooltip of a control: the title line "Harvix" with the information
// picture, then the control's text.
QString tooltipHtml(const QString& text) {
    return QStringLiteral(
               "<table cellspacing=\"0\" cellpadding=\"1\"><tr>"
               "<td><img src=\"%1\" width=\"16\" height=\"16\"></td>"
               "<td><b>&nbsp;%2</b></td></tr></table>%3")
        .arg(picturePath(kPictureMenuAbout), QString::fromLatin1(kProductName),
             text.toHtmlEscaped());
}

}  // namespace

MainWindow::MainWindow(Settings& settings, IPlatform& platform, std::unique_ptr<Desktop> desktop)
    : QDialog(nullptr),
      settings_(settings),
      platform_(platform),
      desktop_(desktop ? std::move(desktop) : Desktop::makeDefault()),
      reports_(new CombReports(this)),
      coordinator_(platform_, reports_->events()),
      commands_(new CommandSet(this)) {
    setWindowIcon(pictureIcon(kPictureAppIcon));
    filterSet_.homeFolder = platform_.homeFolder();
    buildControls();
    connectCommands();
    connect(reports_, &CombReports::runStateChanged, this, &MainWindow::applyRunState,
            Qt::QueuedConnection);
    connect(reports_, &CombReports::progressed, this, &MainWindow::applyProgress,
            Qt::QueuedConnection);
    connect(reports_, &CombReports::cacheFolderFound, this, &MainWindow::storeFoundCacheFolder,
            Qt::QueuedConnection);
    connect(reports_, &CombReports::runBrowserKnown, this, &MainWindow::applyRunBrowser,
            Qt::QueuedConnection);
    connect(reports_, &CombReports::counted, this, &MainWindow::applyCount, Qt::QueuedConnection);
    connect(reports_, &CombReports::runEnded, this, &MainWindow::showRunNotice,
            Qt::QueuedConnection);
}

MainWindow::~MainWindow() {
    shutdown();
    delete progressWindow_;
    progressWindow_ = nullptr;
}

void MainWindow::shutdown() {
    // From here on the comb threads' reports find no receiver (disconnecting
    // is safe while another thread emits).
    reports_->disconnect(this);
    coordinator_.shutdown();
}

void MainWindow::buildControls() {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // Tooltips: blue text on light grey, up for ten seconds.
    setStyleSheet(
        QStringLiteral("QToolTip { color: rgb(0, 0, 255); background-color: rgb(224, 224, 224);"
                       " border: 1px solid rgb(160, 160, 160); padding: 2px; }"));

    auto makeButton = [this](QAction* action, const QIcon& image, const QIcon& hoverImage) {
        auto* button = new ImageButton(this);
        button->setImages(image, hoverImage);
        button->setFixedSize(kButtonSize);
        button->setToolTipDuration(10000);
        button->setAction(action);
        buttons_.push_back(button);
        return button;
    };
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(0);
    for (const Command command : {Command::New, Command::Open, Command::Save, Command::SaveAs,
                                  Command::Add, Command::Delete, Command::Edit, Command::Up,
                                  Command::Down, Command::Options, Command::Help}) {
        const ButtonImage image = CommandSet::buttonImage(command);
        buttonRow->addWidget(makeButton(action(command), buttonImageIcon(image, false),
                                        buttonImageIcon(image, true)));
    }
    // The comb buttons at the right end, the browser table's first row
    // rightmost.
    buttonRow->addStretch(1);
    // The browsers without a button of their own sit in a menu behind one
    // more comb button, left of the others.
    if (QAction* other = commands_->otherBrowsers()) {
        auto* menu = new QMenu(this);
        for (const CombCommand& comb : commands_->otherCombCommands()) {
            menu->addAction(comb.action);
        }
        ImageButton* button =
            makeButton(other, other->icon(), namedPictureIcon("button-comb-other-hover"));
        buttonRow->addWidget(button);
        connect(other, &QAction::triggered, this,
                [menu, button] { menu->popup(button->mapToGlobal(QPoint(0, button->height()))); });
    }
    const std::vector<CombCommand>& combs = commands_->combCommands();
    for (auto comb = combs.rbegin(); comb != combs.rend(); ++comb) {
        buttonRow->addWidget(makeButton(comb->action, comb->image, comb->hoverImage));
    }

    model_ = new FilterListModel(filterSet(), this);
    filterList_ = new FilterListView(this);
    filterList_->setModel(model_);
    filterList_->setColumnWidths(
        std::vector<int>(std::begin(kColumnWidths), std::end(kColumnWidths)));
    filterList_->setContextMenuPolicy(Qt::DefaultContextMenu);
    filterList_->viewport()->installEventFilter(this);
    filterList_->installEventFilter(this);
    connect(model_, &FilterListModel::itemToggled, this, [this] {
        // The title shows the "*" from its next update on.
        modified_ = true;
    });
    // Every change of the set becomes the next run's snapshot.
    connect(model_, &QAbstractItemModel::modelReset, this, &MainWindow::handOverFilter);
    connect(model_, &QAbstractItemModel::dataChanged, this, &MainWindow::handOverFilter);
    connect(filterList_, &QAbstractItemView::doubleClicked, this, [this] { editItem(); });
    setFocusProxy(filterList_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargins);
    layout->setSpacing(kRowGap);
    layout->addLayout(buttonRow);
    layout->addWidget(filterList_);
    // The window keeps the size its contents ask for.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool MainWindow::create() {
    // The progress window: no parent window, made transparent, hidden.
    progressWindow_ = new ProgressWindow(settings_);
    progressWindow_->applyTransparency();
    progressWindow_->hide();
    connect(progressWindow_, &ProgressWindow::cancelRequested, this,
            [this] { coordinator_.cancelRun(); });

    // The tray icon with the application picture, the animation frames and
    // the tray menu; its left press shows the window.
    tray_.create(this, kPictureAppIcon);
    tray_.loadAnimationFrames();
    tray_.setMenu(*commands_);
    connect(&tray_, &TrayIcon::showMainWindowRequested, this, &MainWindow::showMainWindow);
    connect(&tray_, &TrayIcon::availabilityChanged, this, &MainWindow::setTrayAvailable);
    connect(&tray_, &TrayIcon::noticeClicked, this,
            [this](const QString& folder) { desktop_->openUrl(QUrl::fromLocalFile(folder)); });

    loadStartupFilter();

    handOverFilter();
    handOverOptions();
    startMonitors();

    applyTexts();
    reloadList();
    updateTitle();
    initialised_ = true;
    setTrayAvailable(tray_.isAvailable());
    return true;
}

void MainWindow::loadStartupFilter() {
    Settings& settings = settings_;
    // The last file used, else the user's own default, else the one that
    // comes with the program.
    if (loadFilterFile(settings.FiltersFileName)) {
        return;
    }
    std::error_code ec;
    if (fs::is_regular_file(settings.userDefaultFilterPath(), ec) &&
        loadFilterFile(pathToUtf8(settings.userDefaultFilterPath()))) {
        return;
    }
    if (loadFilterFile(pathToUtf8(settings.defaultFilterPath))) {
        return;
    }
    showMessage(theLanguage().ErrorLoadDefaultFilter, MessageIcon::Error, MessageButtons::Ok);
    newFilterSet();
}

// ---- Window operations ----

void MainWindow::showMainWindow() {
    if (firstShow_) {
        // The first show turns the hidden start-up window into an ordinary
        // one, centred on the screen.
        firstShow_ = false;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            adjustSize();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    askedBeforeHide_ = false;
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::setTrayAvailable(bool available) {
    trayAvailable_ = available;
    // Without a notification area the window is all the user has of the
    // program: it shows, and closing it ends the program rather than leave
    // it unreachable.
    if (!available && initialised_ && !exiting_ && !isVisible()) {
        showMainWindow();
    }
}

void MainWindow::reloadList() {
    model_->reload();
}

void MainWindow::updateTitle() {
    const QString file = untitled_ ? QString::fromStdString(theLanguage().NewFilter)
                                   : QString::fromStdString(settings_.FiltersFileName);
    setWindowTitle(QStringLiteral("%1 - [%2%3]")
                       .arg(QString::fromLatin1(kProductName), file,
                            modified_ ? QStringLiteral("*") : QString()));
}

void MainWindow::applyTexts() {
    const LanguageTexts& texts = theLanguage();
    commands_->applyTexts(texts);
    reports_->setTexts(texts);
    for (ImageButton* button : buttons_) {
        button->setToolTip(tooltipHtml(button->action()->toolTip()));
    }
    if (progressWindow_ != nullptr) {
        progressWindow_->applyTexts(texts);
    }
    if (cacheWindow_ != nullptr) {
        cacheWindow_->applyTexts(texts);
    }
    const std::string& hint = filterSet().hint;
    filterList_->setHint(hint.empty() ? QString() : tooltipHtml(QString::fromStdString(hint)));
    model_->applyTexts(texts);
}

void MainWindow::askSaveChanges() {
    if (!modified_) {
        return;
    }
    if (showMessage(theLanguage().WarningChanged, MessageIcon::Warning, MessageButtons::YesNo) ==
        MessageResult::Yes) {
        saveFilterSet();
    }
}

bool MainWindow::saveFilterSet(bool chooseName) {
    Settings& settings = settings_;
    std::string path = untitled_ ? std::string() : settings.FiltersFileName;
    const bool shipped = !path.empty() && settings.isShippedFile(pathFromUtf8(path));
    // The user's filter folder is made when it is needed: the file dialog
    // opens in it and a set from a shipped file is saved into it.
    std::error_code ec;
    if (path.empty() || chooseName || shipped) {
        fs::create_directories(settings.userFiltersDir, ec);
    }
    const bool haveUserFolder = fs::is_directory(settings.userFiltersDir, ec);
    if (shipped && !chooseName) {
        // The shipped file stays as it came; the user's copy takes the
        // changes, under the same name unless that is taken already.
        const fs::path copy = settings.userFiltersDir / pathFromUtf8(path).filename();
        if (haveUserFolder && !fs::exists(fs::symlink_status(copy, ec))) {
            path = pathToUtf8(copy);
        } else {
            chooseName = true;
        }
    }
    if (path.empty() || chooseName) {
        const std::optional<std::string> chosen = desktop_->chooseSaveFile(
            this,
            haveUserFolder ? settings.userFiltersDir : settings.defaultFilterPath.parent_path());
        if (!chosen) {
            return false;  // cancelled: nothing changes
        }
        path = *chosen;
    }
    if (settings.isShippedFile(pathFromUtf8(path))) {
        // Not even root writes over a file of the installed program.
        showMessage(theLanguage().ErrorShippedFilter + "\n" + path, MessageIcon::Warning,
                    MessageButtons::Ok);
        return false;
    }
    if (const std::optional<ErrorReport> failed = filterSet().saveFile(path)) {
        // Nothing was written (the old file, if any, is intact): the set
        // keeps its changes and its file. The user is told which file and why.
        updateTitle();
        std::string text = path;
        const std::string why = failed->systemText();
        if (!why.empty()) {
            text += "\n" + why;
        }
        showMessage(text, MessageIcon::Warning, MessageButtons::Ok);
        return false;
    }
    untitled_ = false;
    filterSet().fileName = path;
    settings.FiltersFileName = path;
    // The next start opens the file just written.
    settings.saveSettings();
    modified_ = false;
    updateTitle();
    return true;
}

int MainWindow::selectedRow() const {
    const QModelIndexList rows = filterList_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void MainWindow::selectRow(int row, int focusRow) {
    QItemSelectionModel* selection = filterList_->selectionModel();
    if (row < 0 || row >= model_->rowCount()) {
        selection->clearSelection();
        return;
    }
    if (focusRow < 0 || focusRow >= model_->rowCount()) {
        focusRow = row;
    }
    selection->setCurrentIndex(model_->index(focusRow, 0), QItemSelectionModel::NoUpdate);
    selection->select(model_->index(row, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    filterList_->scrollTo(model_->index(row, 0));
}

ImageButton* MainWindow::button(const QAction* action) const {
    for (ImageButton* button : buttons_) {
        if (button->action() == action) {
            return button;
        }
    }
    return nullptr;
}

void MainWindow::mark() {
    modified_ = true;
    updateTitle();
}

bool MainWindow::loadFilterFile(const std::string& path) {
    const bool loaded =
        !filterSet_.loadFile(path, static_cast<std::time_t>(platform_.currentTime()));
    // The file becomes the settings' filter file even when it is none (the
    // title names it); a loaded one is kept in the settings file at once.
    Settings& settings = settings_;
    settings.FiltersFileName = filterSet_.fileName;
    if (loaded) {
        settings.saveSettings();
    }
    return loaded;
}

// ---- Keys, closing and hiding ----

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu &&
        (watched == filterList_ || watched == filterList_->viewport())) {
        auto* request = static_cast<QContextMenuEvent*>(event);
        showListMenu(request->globalPos(), request->reason() == QContextMenuEvent::Keyboard);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        askSaveChanges();
        askedBeforeHide_ = true;
    }
    QDialog::keyPressEvent(event);  // Esc: the dialog's cancel action hides the window
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->ignore();
        return;
    }
    askSaveChanges();
    askedBeforeHide_ = true;
    if (!trayAvailable_) {
        // No tray icon to come back through: closing ends the program, as
        // Exit does.
        event->ignore();
        exitProgram();
        return;
    }
    event->ignore();
    hideWindow();
}

void MainWindow::reject() {
    if (!trayAvailable_) {
        close();
        return;
    }
    hideWindow();
}

void MainWindow::accept() {
    // The window has no OK action: it is never closed this way.
}

void MainWindow::hideWindow() {
    hide();
    askedBeforeHide_ = false;
}

void MainWindow::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous() && !exiting_ && !askedBeforeHide_ && modified_) {
        askedBeforeHide_ = true;
        askSaveChanges();
    }
}

}  // namespace harvix
