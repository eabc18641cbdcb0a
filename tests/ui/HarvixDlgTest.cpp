// The main window's command table, keys, list menu, title and start-up,
// driven on the offscreen platform with every dialog answered by a fake.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "HarvixDlgTestSupport.h"
#include "controls/ImageButton.h"
#include "platform/Text.h"
#include "ui/ProgressDlg.h"

namespace {

QString Title(const std::string& file, bool modified) {
    return QStringLiteral("Harvix - [%1%2]")
        .arg(QString::fromStdString(file), modified ? QStringLiteral("*") : QString());
}

class HarvixDlgTest : public ::testing::Test {
protected:
    // A window on a filter file with `rows` items.
    CHarvixDlg& OpenWith(int rows) {
        startFilter_ = world_.WriteFilter("start.flt", rows, "the hint");
        return world_.Open(startFilter_);
    }
    void Select(int row) { world_.window().SelectRow(row); }
    std::vector<std::string> Urls() {
        std::vector<std::string> urls;
        for (const auto& item : world_.filter().items) {
            urls.push_back(item->url);
        }
        return urls;
    }

    MainWindowWorld world_;
    fs::path startFilter_;
};

// ---- Start-up ----

TEST_F(HarvixDlgTest, StartsHiddenWithTheRememberedFilterFile) {
    CHarvixDlg& window = OpenWith(3);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.IsFirstShow());
    EXPECT_TRUE(window.IsInitialised());
    EXPECT_FALSE(window.IsModified());
    EXPECT_FALSE(window.IsUntitled());
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_EQ(window.windowTitle(), Title(PathToUtf8(startFilter_), false));
    EXPECT_TRUE(world_.notifier().messages.empty());
    // The hint is the list's tooltip.
    EXPECT_TRUE(window.FilterList()->toolTip().contains(QStringLiteral("the hint")));
}

TEST_F(HarvixDlgTest, FallsBackToTheDefaultFilterFile) {
    const fs::path fallback = world_.WriteFilter("prog/Filters/Default.flt", 2);
    CHarvixDlg& window = world_.Open(world_.dir() / "missing.flt");
    EXPECT_EQ(world_.RowCount(), 2);
    EXPECT_EQ(window.windowTitle(), Title(PathToUtf8(fallback), false));
    EXPECT_TRUE(world_.notifier().messages.empty());
}

TEST_F(HarvixDlgTest, WithoutAnyFilterFileSaysSoAndStartsANewSet) {
    CHarvixDlg& window = world_.Open(world_.dir() / "missing.flt");
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text, "Can't load default filter.");
    EXPECT_EQ(world_.notifier().messages[0].buttons, MessageButtons::Ok);
    EXPECT_TRUE(window.IsUntitled());
    EXPECT_TRUE(window.IsModified());
    EXPECT_EQ(world_.RowCount(), 0);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
}

TEST_F(HarvixDlgTest, ShowsTheListColumnsAndButtons) {
    CHarvixDlg& window = OpenWith(2);
    QTableWidget* list = window.FilterList();
    ASSERT_EQ(list->columnCount(), 8);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("En."));
    EXPECT_EQ(list->horizontalHeaderItem(7)->text(), QStringLiteral("Filename Dummy"));
    EXPECT_EQ(list->columnWidth(3), 210);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    // Row 1: content type 1 (jpg), size 100, URL, folder template, stem.
    EXPECT_EQ(world_.Cell(1, 0), QString());
    EXPECT_EQ(list->item(1, 0)->checkState(), Qt::Checked);
    EXPECT_EQ(world_.Cell(1, 1), QStringLiteral("jpg"));
    EXPECT_EQ(world_.Cell(1, 2), QStringLiteral("100"));
    EXPECT_EQ(world_.Cell(1, 3), QStringLiteral("site1"));
    EXPECT_EQ(world_.Cell(1, 6), QStringLiteral("~/out/1"));
    EXPECT_EQ(world_.Cell(1, 7), QStringLiteral("f1"));
    const int ids[] = {CHarvixDlg::IdNew,  CHarvixDlg::IdOpen,   CHarvixDlg::IdSave,
                       CHarvixDlg::IdAdd,  CHarvixDlg::IdDelete, CHarvixDlg::IdEdit,
                       CHarvixDlg::IdUp,   CHarvixDlg::IdDown,   CHarvixDlg::IdOptions,
                       CHarvixDlg::IdHelp, CHarvixDlg::IdCombIE, CHarvixDlg::IdCombMozilla};
    for (const int id : ids) {
        CImageButton* button = window.Button(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(button->text().isEmpty());
        EXPECT_FALSE(button->toolTip().isEmpty());
    }
    EXPECT_TRUE(window.Button(CHarvixDlg::IdCombMozilla)
                    ->toolTip()
                    .contains(QStringLiteral("Capture and Save Files from Mozilla")));
}

// ---- Titles, New, Open, Save ----

TEST_F(HarvixDlgTest, NewThenSaveShowsTheFileInTheTitle) {
    CHarvixDlg& window = OpenWith(2);
    window.OnNew();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
    EXPECT_EQ(world_.RowCount(), 0);
    const std::string saved = PathToUtf8(world_.dir() / "a.flt");
    world_.desktop().saveAnswers.push_back(saved);
    window.OnSave();
    EXPECT_EQ(window.windowTitle(), Title(saved, false));
    EXPECT_FALSE(window.IsUntitled());
    EXPECT_TRUE(fs::exists(saved));
    EXPECT_EQ(TheSettings().FiltersFileName, saved);
    // A second save writes to the same file without asking.
    window.OnSave();
    EXPECT_EQ(world_.desktop().saveAsked, 1);
}

TEST_F(HarvixDlgTest, CancelledSaveOfANewSetWritesNothing) {
    CHarvixDlg& window = OpenWith(1);
    window.OnNew();
    window.OnSave();  // the save dialog answers Cancel
    EXPECT_EQ(world_.desktop().saveAsked, 1);
    EXPECT_TRUE(window.IsModified());
    EXPECT_TRUE(window.IsUntitled());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
    EXPECT_EQ(TheSettings().FiltersFileName, PathToUtf8(startFilter_));
}

TEST_F(HarvixDlgTest, NewOnAChangedSetAsksAndNoDiscards) {
    CHarvixDlg& window = OpenWith(2);
    window.OnUncheckAll();
    world_.notifier().answer = MessageResult::No;
    const std::string before = ReadFile(startFilter_);
    window.OnNew();
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text,
              "The filter has been changed. Would you like to save the filter in a file?");
    EXPECT_EQ(world_.notifier().messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(ReadFile(startFilter_), before);
    EXPECT_EQ(world_.RowCount(), 0);
}

TEST_F(HarvixDlgTest, NewOnAChangedSetAndYesSavesFirst) {
    CHarvixDlg& window = OpenWith(2);
    window.OnUncheckAll();
    world_.notifier().answer = MessageResult::Yes;
    window.OnNew();
    EXPECT_NE(ReadFile(startFilter_).find("Disabled=1"), std::string::npos);
    EXPECT_EQ(world_.desktop().saveAsked, 0);  // the set had a file
    EXPECT_TRUE(window.IsUntitled());
}

TEST_F(HarvixDlgTest, YesOnAnUntitledSetAsksForAFileAndCancelLosesTheChanges) {
    CHarvixDlg& window = OpenWith(1);
    window.OnNew();
    world_.desktop().editor = [](CCacheFilter::CFilterItem&) { return true; };
    window.OnAdd();
    world_.notifier().answer = MessageResult::Yes;
    const fs::path other = world_.WriteFilter("other.flt", 4);
    world_.desktop().openAnswers.push_back(PathToUtf8(other));
    window.OnOpen();  // question, save dialog (cancelled), then the open goes on
    EXPECT_EQ(world_.desktop().saveAsked, 1);
    EXPECT_EQ(world_.RowCount(), 4);
    EXPECT_FALSE(window.IsModified());
    EXPECT_FALSE(window.IsUntitled());
    EXPECT_EQ(window.windowTitle(), Title(PathToUtf8(other), false));
}

TEST_F(HarvixDlgTest, OpenCancelledChangesNothing) {
    CHarvixDlg& window = OpenWith(3);
    const QString title = window.windowTitle();
    window.OnOpen();
    EXPECT_EQ(world_.desktop().openAsked, 1);
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_EQ(window.windowTitle(), title);
}

TEST_F(HarvixDlgTest, OpenOfAFileThatIsNoFilterGivesAnEmptyUnchangedSet) {
    CHarvixDlg& window = OpenWith(3);
    const fs::path junk = world_.dir() / "junk.flt";
    WriteFile(junk, "not a filter file\n");
    world_.desktop().openAnswers.push_back(PathToUtf8(junk));
    window.OnOpen();
    EXPECT_EQ(world_.RowCount(), 0);
    EXPECT_FALSE(window.IsModified());
    EXPECT_EQ(window.windowTitle(), Title(PathToUtf8(junk), false));
    EXPECT_TRUE(world_.notifier().messages.empty());
}

// ---- Add, Delete, Edit ----

TEST_F(HarvixDlgTest, AddWithoutSelectionAppendsAndSelectsTheLastRow) {
    CHarvixDlg& window = OpenWith(3);
    TheSettings().DefaultCombPath = "~/picked";
    TheSettings().DefaultFileNameDummy = "stem";
    CCacheFilter::CFilterItem seen;
    world_.desktop().editor = [&](CCacheFilter::CFilterItem& item) {
        seen = item;
        item.url = "new, one";
        return true;
    };
    window.OnAdd();
    EXPECT_EQ(world_.desktop().editorCaptions, std::vector<std::string>{"Add"});
    EXPECT_EQ(seen.directoryTemplate, "~/picked");
    EXPECT_EQ(seen.fileNameDummy, "stem");
    ASSERT_EQ(world_.RowCount(), 4);
    EXPECT_EQ(world_.Cell(3, 3), QStringLiteral("new, one"));
    EXPECT_EQ(window.SelectedRow(), 3);
    EXPECT_EQ(world_.filter().items[3]->urlParts, (std::vector<std::string>{"new", "one"}));
    EXPECT_TRUE(window.IsModified());
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("*]")));
}

TEST_F(HarvixDlgTest, AddBelowTheSelectedRow) {
    CHarvixDlg& window = OpenWith(5);
    world_.desktop().editor = [](CCacheFilter::CFilterItem& item) {
        item.url = "inserted";
        return true;
    };
    Select(2);
    window.OnAdd();
    EXPECT_EQ(Urls(),
              (std::vector<std::string>{"site0", "site1", "site2", "inserted", "site3", "site4"}));
    EXPECT_EQ(window.SelectedRow(), 3);
    // Below the last row it appends.
    Select(5);
    window.OnAdd();
    EXPECT_EQ(world_.RowCount(), 7);
    EXPECT_EQ(window.SelectedRow(), 6);
}

TEST_F(HarvixDlgTest, AddCancelledDiscardsTheItem) {
    CHarvixDlg& window = OpenWith(2);
    window.OnAdd();
    EXPECT_EQ(world_.RowCount(), 2);
    EXPECT_FALSE(window.IsModified());
}

TEST_F(HarvixDlgTest, DeleteAsksAndKeepsASelection) {
    CHarvixDlg& window = OpenWith(3);
    Select(2);
    world_.notifier().answer = MessageResult::No;
    window.OnDelete();
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_FALSE(window.IsModified());
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text, "Are you sure?");

    world_.notifier().answer = MessageResult::Yes;
    window.OnDelete();  // the last of several: the new last row is selected
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1"}));
    EXPECT_EQ(window.SelectedRow(), 1);
    Select(0);
    window.OnDelete();  // the same place, now the next item
    EXPECT_EQ(Urls(), std::vector<std::string>{"site1"});
    EXPECT_EQ(window.SelectedRow(), 0);
    window.OnDelete();  // the only row
    EXPECT_EQ(world_.RowCount(), 0);
    EXPECT_EQ(window.SelectedRow(), -1);
    EXPECT_TRUE(window.IsModified());
}

TEST_F(HarvixDlgTest, EditRewritesTheRowAndTheUrlParts) {
    CHarvixDlg& window = OpenWith(3);
    Select(1);
    world_.desktop().editor = [](CCacheFilter::CFilterItem& item) {
        item.url = "a.com, b .net";
        item.contentType = 3;
        return true;
    };
    window.OnEdit();
    EXPECT_EQ(world_.desktop().editorCaptions, std::vector<std::string>{"Edit"});
    EXPECT_EQ(world_.Cell(1, 1), QStringLiteral("png"));
    EXPECT_EQ(world_.Cell(1, 3), QStringLiteral("a.com, b .net"));
    EXPECT_EQ(world_.filter().items[1]->urlParts, (std::vector<std::string>{"a.com", "b.net"}));
    EXPECT_TRUE(window.IsModified());
    // Cancel leaves all as it was.
    world_.desktop().editor = nullptr;
    window.OnSave();
    window.OnEdit();
    EXPECT_FALSE(window.IsModified());
}

TEST_F(HarvixDlgTest, CommandsThatNeedARowDoNothingWithoutOne) {
    CHarvixDlg& window = OpenWith(3);
    world_.desktop().editor = [](CCacheFilter::CFilterItem&) { return true; };
    world_.notifier().answer = MessageResult::Yes;
    window.OnEdit();
    window.OnDelete();
    window.OnUp();
    window.OnDown();
    window.OnOpenFolder();
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_FALSE(window.IsModified());
    EXPECT_TRUE(world_.desktop().editorCaptions.empty());
    EXPECT_TRUE(world_.notifier().messages.empty());
    EXPECT_TRUE(world_.desktop().opened.empty());
}

// ---- Up and Down ----

TEST_F(HarvixDlgTest, UpAndDownMoveTheRowAndKeepTheFocus) {
    CHarvixDlg& window = OpenWith(3);
    Select(1);
    window.OnUp();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site1", "site0", "site2"}));
    EXPECT_EQ(window.SelectedRow(), 0);
    EXPECT_EQ(world_.CurrentRow(), 1);
    EXPECT_TRUE(window.IsModified());
    window.OnDown();
    window.OnDown();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site2", "site1"}));
    EXPECT_EQ(window.SelectedRow(), 2);
    EXPECT_EQ(world_.CurrentRow(), 1);
}

TEST_F(HarvixDlgTest, UpOnTheFirstRowAndDownOnTheLastDoNothing) {
    CHarvixDlg& window = OpenWith(3);
    Select(0);
    window.OnUp();
    Select(2);
    window.OnDown();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1", "site2"}));
    EXPECT_FALSE(window.IsModified());
    EXPECT_EQ(window.SelectedRow(), 2);
}

// ---- Check boxes ----

TEST_F(HarvixDlgTest, ACheckBoxChangesTheItemButNotYetTheTitle) {
    CHarvixDlg& window = OpenWith(3);
    const QString title = window.windowTitle();
    window.FilterList()->item(1, 0)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(world_.filter().items[1]->disabled);
    EXPECT_TRUE(window.IsModified());
    EXPECT_EQ(window.windowTitle(), title);
    window.UpdateTitle();
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("*]")));
}

TEST_F(HarvixDlgTest, CheckAllAndUncheckAll) {
    CHarvixDlg& window = OpenWith(3);
    window.OnUncheckAll();
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(world_.filter().items[static_cast<std::size_t>(row)]->disabled);
        EXPECT_EQ(window.FilterList()->item(row, 0)->checkState(), Qt::Unchecked);
    }
    window.OnCheckAll();
    for (int row = 0; row < 3; ++row) {
        EXPECT_FALSE(world_.filter().items[static_cast<std::size_t>(row)]->disabled);
    }
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("*]")));
}

// ---- Busy ----

TEST_F(HarvixDlgTest, AManualRunRefusesTheEditingCommands) {
    CHarvixDlg& window = OpenWith(3);
    Select(1);
    world_.desktop().editor = [](CCacheFilter::CFilterItem&) { return true; };
    world_.desktop().options = [] { return true; };
    world_.notifier().answer = MessageResult::Yes;
    window.Main().busy = true;
    const int refused[] = {CHarvixDlg::IdNew,          CHarvixDlg::IdOpen,
                           CHarvixDlg::IdSave,         CHarvixDlg::IdAdd,
                           CHarvixDlg::IdDelete,       CHarvixDlg::IdEdit,
                           CHarvixDlg::IdUp,           CHarvixDlg::IdDown,
                           CHarvixDlg::IdMenuCheckAll, CHarvixDlg::IdMenuUncheckAll,
                           CHarvixDlg::IdOptions,      CHarvixDlg::IdTrayOptions,
                           CHarvixDlg::IdHelp,         CHarvixDlg::IdTrayHelp,
                           CHarvixDlg::IdCombIE,       CHarvixDlg::IdCombMozilla};
    for (const int id : refused) {
        EXPECT_TRUE(window.OnCommand(id));
    }
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_FALSE(window.IsModified());
    EXPECT_EQ(window.SelectedRow(), 1);
    EXPECT_TRUE(world_.notifier().messages.empty());
    EXPECT_EQ(world_.desktop().openAsked + world_.desktop().saveAsked, 0);
    EXPECT_TRUE(world_.desktop().editorCaptions.empty());
    EXPECT_EQ(world_.desktop().optionsShown, 0);
    EXPECT_TRUE(world_.desktop().opened.empty());

    // These still work.
    QSignalSpy exits(&window, &CHarvixDlg::exitRequested);
    window.OnCommand(CHarvixDlg::IdMenuOpenFolder);
    window.OnCommand(CHarvixDlg::IdTrayVisit);
    window.OnCommand(CHarvixDlg::IdTrayLastVersion);
    window.OnCommand(CHarvixDlg::IdTrayAbout);
    window.OnCommand(CHarvixDlg::IdTrayFilters);
    EXPECT_EQ(world_.desktop().opened.size(), 3u);
    EXPECT_EQ(world_.desktop().aboutShown, 1);
    EXPECT_TRUE(window.isVisible());
    window.OnCommand(CHarvixDlg::IdTrayExit);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(window.isVisible());
    window.Main().busy = false;
}

// ---- The desktop's open action ----

TEST_F(HarvixDlgTest, HelpAndWebCommandsOpenTheirAddresses) {
    CHarvixDlg& window = OpenWith(1);
    window.OnHelp();
    window.OnVisitSite();
    window.OnDownloadLastVersion();
    ASSERT_EQ(world_.desktop().opened.size(), 3u);
    EXPECT_EQ(world_.desktop().opened[0],
              QUrl::fromLocalFile(QString::fromStdString(PathToUtf8(TheSettings().helpPath))));
    EXPECT_TRUE(
        world_.desktop().opened[0].toLocalFile().endsWith(QStringLiteral("help/index.html")));
    EXPECT_EQ(world_.desktop().opened[1], QUrl(QString::fromLatin1(kHarvixSiteUrl)));
    EXPECT_EQ(world_.desktop().opened[2], QUrl(QString::fromLatin1(kHarvixDownloadUrl)));
}

TEST_F(HarvixDlgTest, OpenFolderOpensTheFolderOfTheLastLoad) {
    CHarvixDlg& window = OpenWith(2);
    Select(1);
    window.OnOpenFolder();
    ASSERT_EQ(world_.desktop().opened.size(), 1u);
    EXPECT_EQ(world_.desktop().opened[0].toLocalFile(),
              QString::fromStdString(PathToUtf8(fs::path("/home/tester") / "out" / "1")));
    // An item added since has no folder yet: an empty address.
    world_.desktop().editor = [](CCacheFilter::CFilterItem&) { return true; };
    window.OnAdd();
    window.OnOpenFolder();
    ASSERT_EQ(world_.desktop().opened.size(), 2u);
    EXPECT_TRUE(world_.desktop().opened[1].isEmpty());
}

TEST_F(HarvixDlgTest, OptionsOkWithAnotherLanguageReappliesTheTexts) {
    CHarvixDlg& window = OpenWith(1);
    const fs::path german = world_.ProgramFolder() / "Langs" / "German.lng";
    WriteFile(german, "[GENERAL]\nLanguage=Deutsch\nFilterListURL=Adresse\n");
    world_.desktop().options = [&] {
        TheSettings().Language = PathToUtf8(german);
        LoadLanguage(TheLanguage(), TheSettings());
        return true;
    };
    window.OnOptions();
    EXPECT_EQ(window.FilterList()->horizontalHeaderItem(3)->text(), QStringLiteral("Adresse"));
    // Cancel changes nothing.
    world_.desktop().options = [] {
        TheLanguage().FilterListURL = "changed";
        return false;
    };
    window.OnOptions();
    EXPECT_EQ(window.FilterList()->horizontalHeaderItem(3)->text(), QStringLiteral("Adresse"));
}

// ---- The list's menu ----

TEST_F(HarvixDlgTest, TheListMenuDependsOnTheSelection) {
    CHarvixDlg& window = OpenWith(2);
    std::unique_ptr<QMenu> menu = window.BuildListMenu();
    EXPECT_EQ(MenuTexts(*menu), (std::vector<QString>{"Add", "-", "Check All", "Uncheck All"}));
    Select(0);
    menu = window.BuildListMenu();
    EXPECT_EQ(MenuTexts(*menu),
              (std::vector<QString>{"Add", "Delete", "Edit", "-", "Up", "Down", "-", "Open Folder",
                                    "-", "Check All", "Uncheck All"}));
}

TEST_F(HarvixDlgTest, TheListMenuOpensOnlyForAPointOnTheList) {
    CHarvixDlg& window = OpenWith(2);
    QTableWidget* list = window.FilterList();
    const QPoint inside = list->mapToGlobal(QPoint(list->width() / 2, list->height() / 2));
    window.OnListContextMenu(inside, true);  // from the keyboard
    window.OnListContextMenu(list->mapToGlobal(QPoint(-5, -5)), false);
    EXPECT_TRUE(world_.desktop().menus.empty());
    window.Main().busy = true;
    window.OnListContextMenu(inside, false);
    EXPECT_TRUE(world_.desktop().menus.empty());
    window.Main().busy = false;

    // The chosen item runs its command.
    world_.desktop().menuChoice = CHarvixDlg::IdMenuUncheckAll;
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(10, 10),
                              list->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(list->viewport(), &request);
    ASSERT_EQ(world_.desktop().menus.size(), 1u);
    EXPECT_TRUE(world_.filter().items[0]->disabled);
    EXPECT_TRUE(world_.filter().items[1]->disabled);
}

// ---- Keys ----

TEST_F(HarvixDlgTest, CtrlSSavesAndSAloneDoesNothing) {
    CHarvixDlg& window = OpenWith(2);
    window.OnUncheckAll();
    QTest::keyClick(window.FilterList(), Qt::Key_S);
    EXPECT_TRUE(window.IsModified());
    EXPECT_EQ(ReadFile(startFilter_).find("Disabled=1"), std::string::npos);
    QTest::keyClick(window.FilterList(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(window.IsModified());
    EXPECT_NE(ReadFile(startFilter_).find("Disabled=1"), std::string::npos);
}

TEST_F(HarvixDlgTest, KeysRunTheirCommands) {
    CHarvixDlg& window = OpenWith(3);
    QTableWidget* list = window.FilterList();
    world_.desktop().editor = [](CCacheFilter::CFilterItem&) { return true; };
    world_.notifier().answer = MessageResult::Yes;

    Select(1);
    QTest::keyClick(list, Qt::Key_Return);  // Edit
    EXPECT_EQ(world_.desktop().editorCaptions, std::vector<std::string>{"Edit"});
    QTest::keyClick(list, Qt::Key_Insert);  // Add below row 1
    EXPECT_EQ(world_.RowCount(), 4);
    EXPECT_EQ(window.SelectedRow(), 2);
    QTest::keyClick(list, Qt::Key_Delete);  // Delete, after the question
    EXPECT_EQ(world_.RowCount(), 3);

    Select(1);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site1", "site0", "site2"}));
    EXPECT_EQ(window.SelectedRow(), 0);
    QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1", "site2"}));
    EXPECT_EQ(window.SelectedRow(), 1);
    // A plain arrow only moves the selection.
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1", "site2"}));

    QTest::keyClick(list, Qt::Key_F1);
    ASSERT_FALSE(world_.desktop().opened.empty());
    EXPECT_TRUE(
        world_.desktop().opened.back().toLocalFile().endsWith(QStringLiteral("index.html")));

    world_.desktop().openAnswers.push_back(PathToUtf8(startFilter_));
    world_.notifier().answer = MessageResult::No;
    QTest::keyClick(list, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(world_.desktop().openAsked, 1);
    QTest::keyClick(list, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(window.IsUntitled());
}

TEST_F(HarvixDlgTest, EscAsksOnceAndHidesTheWindow) {
    CHarvixDlg& window = OpenWith(2);
    window.ShowMainWindow();
    ASSERT_TRUE(window.isVisible());
    EXPECT_FALSE(window.IsFirstShow());
    window.OnUncheckAll();
    world_.notifier().answer = MessageResult::No;
    QTest::keyClick(window.FilterList(), Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_TRUE(window.IsModified());
    // The close box does the same; the program goes on.
    window.ShowMainWindow();
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(world_.notifier().messages.size(), 2u);
    EXPECT_FALSE(window.IsExiting());
}

// ---- Reports from the comb threads ----

// Runs `work` on another thread while this thread serves the event loop.
void OnCombThread(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        work();
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    thread.join();
}

TEST_F(HarvixDlgTest, RunStateAndProgressFromACombThread) {
    CHarvixDlg& window = OpenWith(2);
    void* context = window.Main().runStateContext;
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(window.Main().runStateCallback, &CHarvixDlg::OnRunState);
    int seenAfterReport = -1;
    OnCombThread([&] {
        CHarvixDlg::OnRunState(context, 1);
        CHarvixDlg::OnProgress(context, 40);
        // The report returns once the window has taken the value.
        seenAfterReport = window.ProgressWindow()->Pos();
    });
    EXPECT_EQ(seenAfterReport, 40);
    EXPECT_FALSE(window.FilterList()->isEnabled());
    EXPECT_TRUE(window.ProgressWindow()->isVisible());
    OnCombThread([&] { CHarvixDlg::OnRunState(context, 0); });
    EXPECT_TRUE(window.FilterList()->isEnabled());
    EXPECT_FALSE(window.ProgressWindow()->isVisible());
}

TEST_F(HarvixDlgTest, WithoutTheSettingTheProgressWindowStaysHidden) {
    CHarvixDlg& window = OpenWith(1);
    TheSettings().ShowNotifyProgressBar = false;
    void* context = window.Main().runStateContext;
    OnCombThread([&] {
        CHarvixDlg::OnRunState(context, 1);
        CHarvixDlg::OnProgress(context, 70);
    });
    EXPECT_FALSE(window.ProgressWindow()->isVisible());
    EXPECT_EQ(window.ProgressWindow()->Pos(), 70);
    OnCombThread([&] { CHarvixDlg::OnRunState(context, 0); });
}

TEST(HarvixDlgShutdownTest, AReportAfterTheWindowIsGoneReturnsAtOnce) {
    void* context = nullptr;
    {
        MainWindowWorld world;
        world.WriteFilter("start.flt", 1);
        CHarvixDlg& window = world.Open(world.dir() / "start.flt");
        context = window.Main().runStateContext;
    }
    const auto start = std::chrono::steady_clock::now();
    std::thread late([&] {
        CHarvixDlg::OnRunState(context, 1);
        CHarvixDlg::OnProgress(context, 50);
    });
    late.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(HarvixDlgShutdownTest, AWaitingReportIsReleasedWhenTheWindowGoes) {
    auto world = std::make_unique<MainWindowWorld>();
    world->WriteFilter("start.flt", 1);
    void* context = world->Open(world->dir() / "start.flt").Main().runStateContext;
    std::atomic<bool> returned{false};
    // The UI thread serves no events: the report waits for the window.
    std::thread comb([&] {
        CHarvixDlg::OnProgress(context, 10);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    const auto start = std::chrono::steady_clock::now();
    world.reset();  // deletes the window
    comb.join();
    EXPECT_TRUE(returned);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

}  // namespace
