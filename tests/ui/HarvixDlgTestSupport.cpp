#include "HarvixDlgTestSupport.h"

#include <QTableWidget>

#include "controls/PictureMenu.h"
#include "platform/Text.h"

std::optional<std::string> FakeDesktop::ChooseOpenFile(QWidget*, const fs::path&) {
    ++openAsked;
    if (openAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

std::optional<std::string> FakeDesktop::ChooseSaveFile(QWidget*, const fs::path&) {
    ++saveAsked;
    if (saveAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

bool FakeDesktop::EditFilterItem(QWidget*, const std::string& caption,
                                 CCacheFilter::CFilterItem& item) {
    editorCaptions.push_back(caption);
    return editor ? editor(item) : false;
}

bool FakeDesktop::RunOptions(QWidget*) {
    ++optionsShown;
    return options ? options() : false;
}

QAction* FakeDesktop::PopupMenu(QMenu& menu, const QPoint&) {
    menus.push_back(MenuTexts(menu));
    for (QAction* action : menu.actions()) {
        if (menuChoice >= 0 && CPictureMenu::CommandId(action) == menuChoice) {
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
        } else if (CPictureMenu::CommandId(action) >= 0) {
            texts.push_back(action->text());
        }
    }
    return texts;
}

MainWindowWorld::MainWindowWorld() : scopedPlatform_(platform_) {
    TheSettings() = Settings{};
    TheLanguage() = LanguageTexts{};
    platform_.exePath = ProgramFolder() / "harvix";
    fs::create_directories(ProgramFolder());
}

MainWindowWorld::~MainWindowWorld() {
    window_.reset();
    TheSettings() = Settings{};
    TheLanguage() = LanguageTexts{};
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
    WriteFile(path, text);
    return path;
}

CHarvixDlg& MainWindowWorld::Open(const fs::path& startFilter) {
    WriteFile(ProgramFolder() / "Harvix.cfg",
              "[GENERAL]\nMozilla=0\nIE=0\nMaxthon=0\nStartWithWindowsStartUp=0\n"
              "ShowNotifyProgressBar=1\nFiltersFileName=" +
                  PathToUtf8(startFilter) + "\n");
    auto desktop = std::make_unique<FakeDesktop>();
    desktop_ = desktop.get();
    window_ = std::make_unique<CHarvixDlg>(std::move(desktop));
    window_->Create();
    return *window_;
}

int MainWindowWorld::RowCount() const {
    return window_->FilterList()->rowCount();
}

QString MainWindowWorld::Cell(int row, int column) const {
    const QTableWidgetItem* cell = window_->FilterList()->item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

int MainWindowWorld::CurrentRow() const {
    const QModelIndex current = window_->FilterList()->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}
