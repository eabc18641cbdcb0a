// The main window's commands: what each of its actions does.
#include <QAction>
#include <QMenu>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "controls/PictureMenu.h"
#include "platform/Path.h"
#include "ui/Desktop.h"
#include "ui/FilterListModel.h"
#include "ui/FilterListView.h"
#include "ui/MainWindow.h"
#include "ui/Notifier.h"
#include "ui/ProgramState.h"

namespace harvix {

void MainWindow::connectCommands() {
    const std::pair<Command, void (MainWindow::*)()> handlers[] = {
        {Command::New, &MainWindow::newFilterSet},
        {Command::Open, &MainWindow::openFilterSet},
        {Command::Save, &MainWindow::save},
        {Command::SaveAs, &MainWindow::saveAs},
        {Command::Add, &MainWindow::addItem},
        {Command::Delete, &MainWindow::deleteItem},
        {Command::Edit, &MainWindow::editItem},
        {Command::Up, &MainWindow::moveUp},
        {Command::Down, &MainWindow::moveDown},
        {Command::OpenFolder, &MainWindow::openFolder},
        {Command::CheckAll, &MainWindow::checkAll},
        {Command::UncheckAll, &MainWindow::uncheckAll},
        {Command::Options, &MainWindow::showOptions},
        {Command::Help, &MainWindow::showHelp},
        {Command::Filters, &MainWindow::showMainWindow},
        {Command::About, &MainWindow::showAbout},
        {Command::VisitSite, &MainWindow::visitSite},
        {Command::DownloadLastVersion, &MainWindow::downloadLastVersion},
        {Command::Exit, &MainWindow::exitAsking},
        {Command::BrowseCache, &MainWindow::browseCache},
    };
    for (const auto& [command, slot] : handlers) {
        connect(commands_->action(command), &QAction::triggered, this, slot);
    }
    for (const std::vector<CombCommand>* combs :
         {&commands_->combCommands(), &commands_->otherCombCommands()}) {
        for (const CombCommand& comb : *combs) {
            const BrowserRow* browser = comb.browser;
            connect(comb.action, &QAction::triggered, this,
                    [this, browser] { this->comb(*browser); });
        }
    }
    // Ctrl+Up and Ctrl+Down leave the moved row selected and focused, as
    // the list's own Ctrl+arrow would after the move.
    for (const Command command : {Command::Up, Command::Down}) {
        connect(commands_->action(command), &QAction::triggered, this, [this] {
            if (filterList_->hasFocus()) {
                selectRow(selectedRow());
            }
        });
    }
    // The keys work wherever the window's focus is.
    addActions(commands_->all());
}

void MainWindow::newFilterSet() {
    askSaveChanges();
    filterSet().clear();
    reloadList();
    modified_ = true;
    untitled_ = true;
    applyTexts();
    updateTitle();
}

void MainWindow::openFilterSet() {
    askSaveChanges();
    // The user's own filter files first, else those that come with the program.
    const Settings& settings = settings_;
    std::error_code ec;
    const std::optional<std::string> path = desktop_->chooseOpenFile(
        this, fs::is_directory(settings.userFiltersDir, ec) ? settings.userFiltersDir
                                                            : settings.defaultFilterPath);
    if (!path) {
        return;
    }
    loadFilterFile(*path);  // a file that is no filter file leaves an empty set
    reloadList();
    untitled_ = false;
    modified_ = false;
    applyTexts();
    updateTitle();
}

void MainWindow::save() {
    saveFilterSet();
    updateTitle();
}

void MainWindow::saveAs() {
    saveFilterSet(true);
    updateTitle();
}

void MainWindow::addItem() {
    addItemFor({}, 0);
}

void MainWindow::addItemFor(const QString& host, int contentType) {
    const Settings& settings = settings_;
    auto item = std::make_unique<FilterItem>();
    item->directoryTemplate = settings.DefaultCombPath;
    item->stem = settings.DefaultFileNameDummy;
    item->url = host.toStdString();
    item->contentType = contentType;
    // The new item goes above the selected one, or first: with One Copy the
    // first item that takes an entry keeps it, and an item at the end would
    // get only what every item before it leaves.
    const int selected = selectedRow();
    const int position = selected >= 0 ? selected : 0;
    const ItemPlace place{&filterSet(), static_cast<std::size_t>(position), settings.OneCopy};
    if (!desktop_->editFilterItem(this, theLanguage().Add, *item, place)) {
        return;  // the new item is discarded
    }
    filterSet().insertItem(item.release(), position);
    reloadList();
    selectRow(position);
    mark();
}

void MainWindow::deleteItem() {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    if (showMessage(theLanguage().WarningAreYouSure, MessageIcon::Warning, MessageButtons::YesNo) !=
        MessageResult::Yes) {
        return;
    }
    filterSet().removeItem(static_cast<uint32_t>(row));
    reloadList();
    const int rows = model_->rowCount();
    selectRow(row < rows ? row : rows - 1);
    mark();
}

void MainWindow::editItem() {
    const int row = selectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= filterSet().items.size()) {
        return;
    }
    // The editor works on a copy; the set's item changes only on OK.
    FilterItem edited = *filterSet().items[static_cast<std::size_t>(row)];
    const ItemPlace place{&filterSet(), static_cast<std::size_t>(row), settings_.OneCopy};
    if (!desktop_->editFilterItem(this, theLanguage().Edit, edited, place)) {
        return;
    }
    FilterItem& item = *filterSet().items[static_cast<std::size_t>(row)];
    item = std::move(edited);
    item.parseUrl(filterSet());
    model_->rowChanged(row);
    mark();
}

void MainWindow::moveUp() {
    const int row = selectedRow();
    if (row <= 0) {
        return;
    }
    filterSet().moveItemUp(static_cast<uint32_t>(row));
    reloadList();
    selectRow(row - 1, row);
    mark();
}

void MainWindow::moveDown() {
    const int row = selectedRow();
    if (row < 0 || row + 1 >= model_->rowCount()) {
        return;
    }
    filterSet().moveItemDown(static_cast<uint32_t>(row));
    reloadList();
    selectRow(row + 1, row);
    mark();
}

void MainWindow::openFolder() {
    const int row = selectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= filterSet().items.size()) {
        return;
    }
    FilterItem& item = *filterSet().items[static_cast<std::size_t>(row)];
    item.parseUrl(filterSet());
    // The folder of the last load or comb run; an item added since then has
    // none yet, and the desktop is asked to open an empty address.
    desktop_->openUrl(item.directory.empty()
                          ? QUrl()
                          : QUrl::fromLocalFile(QString::fromStdString(item.directory)));
}

void MainWindow::checkAll() {
    for (auto& item : filterSet().items) {
        item->disabled = false;
    }
    reloadList();
    mark();
}

void MainWindow::uncheckAll() {
    for (auto& item : filterSet().items) {
        item->disabled = true;
    }
    reloadList();
    mark();
}

void MainWindow::showOptions() {
    Settings& settings = settings_;
    const std::string language = settings.Language;
    if (!desktop_->runOptions(this)) {
        return;
    }
    if (settings.Language != language) {
        applyTexts();
    }
    // Monitors of browsers no longer watched stop; the next run combs with
    // the new options.
    for (const BrowserRow& browser : browserTable()) {
        if (!settings.watches(browser)) {
            coordinator_.monitors[browser.index]->stop();
        }
    }
    handOverOptions();
    startMonitors();
}

void MainWindow::showHelp() {
    desktop_->openUrl(QUrl::fromLocalFile(QString::fromStdString(pathToUtf8(settings_.helpPath))));
}

void MainWindow::comb(const BrowserRow& browser) {
    if (coordinator_.busy) {
        return;
    }
    coordinator_.startComb(browser);
}

void MainWindow::showAbout() {
    desktop_->showAbout(this);
}

QUrl siteAddress() {
    if (*kHarvixSiteUrl != '\0') {
        return QUrl(QString::fromLatin1(kHarvixSiteUrl));
    }
    return QUrl::fromLocalFile(QString::fromStdString(pathToUtf8(theSettings().helpPath)));
}

QUrl downloadAddress() {
    if (*kHarvixDownloadUrl != '\0') {
        return QUrl(QString::fromLatin1(kHarvixDownloadUrl));
    }
    QUrl manual = QUrl::fromLocalFile(QString::fromStdString(pathToUtf8(theSettings().helpPath)));
    manual.setFragment(QStringLiteral("versions"));
    return manual;
}

void MainWindow::visitSite() {
    desktop_->openUrl(siteAddress());
}

void MainWindow::downloadLastVersion() {
    desktop_->openUrl(downloadAddress());
}

void MainWindow::exitAsking() {
    if (exiting_) {
        return;
    }
    askSaveChanges();
    exitProgram();
}

void MainWindow::exitProgram() {
    // No question here: a termination signal or "harvix Close" must not wait
    // for a person (Exit from the menu asks first, in exitAsking). The
    // start-up code ends the event loop and deletes this object, whose
    // coordinator saves the settings.
    exiting_ = true;
    hide();
    emit exitRequested();
}

// ---- The list's menu ----

std::unique_ptr<QMenu> MainWindow::buildListMenu() {
    auto menu = std::make_unique<PictureMenu>(this);
    menu->addCommand(action(Command::Add));
    if (selectedRow() >= 0) {
        menu->addCommand(action(Command::Delete));
        menu->addCommand(action(Command::Edit));
        menu->addSeparator();
        menu->addCommand(action(Command::Up));
        menu->addCommand(action(Command::Down));
        menu->addSeparator();
        menu->addCommand(action(Command::OpenFolder));
    }
    menu->addSeparator();
    menu->addCommand(action(Command::CheckAll));
    menu->addCommand(action(Command::UncheckAll));
    menu->addSeparator();
    menu->addCommand(action(Command::Save));
    menu->addCommand(action(Command::SaveAs));
    menu->addSeparator();
    menu->addCommand(action(Command::BrowseCache));
    return menu;
}

void MainWindow::browseCache() {
    if (cacheWindow_ == nullptr) {
        const Settings& settings = settings_;
        cacheWindow_ = new CacheWindow(findCacheSources(settings, theLanguage()), theLanguage(),
                                       QString::fromStdString(settings.DefaultFileNameDummy),
                                       settings.SkipDuplicates, this);
        // A window of its own that closes with the program.
        cacheWindow_->setAttribute(Qt::WA_DeleteOnClose);
        // The columns shown last time; a change is kept with the settings.
        cacheWindow_->showColumns(QString::fromStdString(settings.CacheWindowColumns));
        connect(cacheWindow_, &CacheWindow::columnsChanged, this, [this] {
            settings_.CacheWindowColumns = cacheWindow_->shownColumns().toStdString();
        });
        connect(cacheWindow_, &CacheWindow::filterItemRequested, this,
                [this](const QString& host, int contentType) {
                    showMainWindow();
                    addItemFor(host, contentType);
                });
    }
    cacheWindow_->show();
    cacheWindow_->raise();
    cacheWindow_->activateWindow();
}

void MainWindow::showListMenu(const QPoint& globalPos, bool fromKeyboard) {
    if (fromKeyboard) {
        return;
    }
    const QRect listRect(filterList_->mapToGlobal(QPoint(0, 0)), filterList_->size());
    if (!listRect.contains(globalPos)) {
        return;
    }
    // A chosen action has run its command by the time the menu returns.
    std::unique_ptr<QMenu> menu = buildListMenu();
    desktop_->popupMenu(*menu, globalPos);
}

}  // namespace harvix
