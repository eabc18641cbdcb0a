#include "MainWindowTestSupport.h"

#include "controls/PictureMenu.h"
#include "platform/Path.h"
#include "ui/FilterListModel.h"
#include "ui/FilterListView.h"
#include "ui/ProgramState.h"

using namespace harvix;

std::optional<std::string> FakeDesktop::chooseOpenFile(QWidget*, const fs::path&) {
    ++openAsked;
    if (openAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

std::optional<std::string> FakeDesktop::chooseSaveFile(QWidget*, const fs::path&) {
    ++saveAsked;
    if (saveAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

bool FakeDesktop::editFilterItem(QWidget*, const std::string& caption, FilterItem& item,
                                 const ItemPlace& place) {
    editorCaptions.push_back(caption);
    editorPlaces.push_back(place);
    return editor ? editor(item) : false;
}

bool FakeDesktop::runOptions(QWidget*) {
    ++optionsShown;
    return options ? options() : false;
}

QAction* FakeDesktop::popupMenu(QMenu& menu, const QPoint&) {
    menus.push_back(MenuTexts(menu));
    for (QAction* action : menu.actions()) {
        if (menuChoice >= 0 && PictureMenu::commandId(action) == menuChoice) {
            action->trigger();
            return action;
        }
    }
    return nullptr;
}

std::vector<QString> MenuTexts(QMenu& menu) {
    std::vector<QString> texts;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            texts.push_back(QStringLiteral("-"));
        } else if (PictureMenu::commandId(action) >= 0) {
            texts.push_back(action->text());
        }
    }
    return texts;
}

MainWindowWorld::MainWindowWorld() : scopedPlatform_(platform_) {
    theSettings() = Settings{};
    theLanguage() = LanguageTexts{};
    platform_.exePath = ProgramFolder() / "harvix";
    platform_.configDir = ConfigFolder();
    fs::create_directories(ProgramFolder());
}

MainWindowWorld::~MainWindowWorld() {
    window_.reset();
    TrayIcon::setAvailabilityProbe(nullptr);
    theSettings() = Settings{};
    theLanguage() = LanguageTexts{};
}

fs::path MainWindowWorld::WriteFilter(const std::string& name, int count, const std::string& hint) {
    std::string text = "[GENERAL]\nHarvixFilter=1\nHint=" + hint + "\n";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "[FILTER_" + n + "]\nContentType=" + std::to_string(i % 19) +
                "\nDisabled=0\nMinSize=" + std::to_string(100 * i) + "\nURL=site" + n +
                "\nMinWeidth=0\nMinHeight=0\nDirectory=~/out/" + n + "\nFileNameDummy=f" + n + "\n";
    }
    const fs::path path = dir_.path() / name;
    writeFile(path, text);
    return path;
}

MainWindow& MainWindowWorld::Open(const fs::path& startFilter, bool trayAvailable) {
    writeFile(ProgramFolder() / "Harvix.cfg",
              "[GENERAL]\nMozilla=0\nIE=0\nMaxthon=0\nStartWithWindowsStartUp=0\n"
              "ShowNotifyProgressBar=1\nFiltersFileName=" +
                  pathToUtf8(startFilter) + "\n");
    auto desktop = std::make_unique<FakeDesktop>();
    desktop_ = desktop.get();
    trayAvailable_ = trayAvailable;
    TrayIcon::setAvailabilityProbe([this] { return trayAvailable_; });
    theSettings().initSettings(theLanguage());
    window_ = std::make_unique<MainWindow>(theSettings(), platform_, std::move(desktop));
    window_->create();
    return *window_;
}

int MainWindowWorld::RowCount() const {
    return window_->filterModel()->rowCount();
}

QString MainWindowWorld::Cell(int row, int column) const {
    return window_->filterModel()->index(row, column).data().toString();
}

Qt::CheckState MainWindowWorld::CheckState(int row) const {
    return window_->filterModel()->index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>();
}

int MainWindowWorld::CurrentRow() const {
    const QModelIndex current = window_->filterList()->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}
