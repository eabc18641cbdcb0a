// The main window's command table, keys, list menu, title and start-up,
// driven on the offscreen platform with every dialog answered by a fake.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "MainWindowTestSupport.h"
#include "app/ErrorText.h"
#include "controls/ImageButton.h"
#include "controls/PictureMenu.h"
#include "engine/CombCoordinator.h"
#include "platform/Path.h"
#include "ui/CombReports.h"
#include "ui/FilterListModel.h"
#include "ui/FilterListView.h"
#include "ui/NoticeBubble.h"
#include "ui/ProgramState.h"
#include "ui/ProgressWindow.h"

using namespace harvix;

namespace {

QString Title(const std::string& file, bool modified) {
    return QStringLiteral("Harvix - [%1%2]")
        .arg(QString::fromStdString(file), modified ? QStringLiteral("*") : QString());
}

class MainWindowTest : public ::testing::Test {
protected:
    // A window on a filter file with `rows` items.
    MainWindow& OpenWith(int rows) {
        startFilter_ = world_.WriteFilter("start.flt", rows, "the hint");
        return world_.Open(startFilter_);
    }
    void Select(int row) { world_.window().selectRow(row); }
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

TEST_F(MainWindowTest, StartsHiddenWithTheRememberedFilterFile) {
    MainWindow& window = OpenWith(3);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.isFirstShow());
    EXPECT_TRUE(window.isInitialised());
    EXPECT_FALSE(window.isModified());
    EXPECT_FALSE(window.isUntitled());
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_EQ(window.windowTitle(), Title(pathToUtf8(startFilter_), false));
    EXPECT_TRUE(world_.notifier().messages.empty());
    // The hint is the list's tooltip, over the whole list; a cell shows its
    // own text only where the text is cut off.
    FilterListView* list = window.filterList();
    EXPECT_TRUE(list->toolTip().contains(QStringLiteral("the hint")));
    window.showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QModelIndex shortCell = window.filterModel()->index(0, FilterListModel::UrlColumn);
    EXPECT_FALSE(list->isCutOff(shortCell));
    EXPECT_EQ(list->toolTipAt(list->visualRect(shortCell).center()), list->toolTip());
    EXPECT_EQ(list->toolTipAt(QPoint(5, list->viewport()->height() - 5)), list->toolTip());
    const std::string longUrl(200, 'x');
    world_.filter().items[1]->url = longUrl;
    window.filterModel()->rowChanged(1);
    const QModelIndex longCell = window.filterModel()->index(1, FilterListModel::UrlColumn);
    EXPECT_TRUE(list->isCutOff(longCell));
    EXPECT_EQ(list->toolTipAt(list->visualRect(longCell).center()),
              QString::fromStdString(longUrl));
}

TEST_F(MainWindowTest, FallsBackToTheDefaultFilterFile) {
    const fs::path fallback = world_.WriteFilter("prog/Filters/Default.flt", 2);
    MainWindow& window = world_.Open(world_.dir() / "missing.flt");
    EXPECT_EQ(world_.RowCount(), 2);
    EXPECT_EQ(window.windowTitle(), Title(pathToUtf8(fallback), false));
    EXPECT_TRUE(world_.notifier().messages.empty());
}

TEST_F(MainWindowTest, WithoutAnyFilterFileSaysSoAndStartsANewSet) {
    MainWindow& window = world_.Open(world_.dir() / "missing.flt");
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text, "Can't load default filter.");
    EXPECT_EQ(world_.notifier().messages[0].buttons, MessageButtons::Ok);
    EXPECT_TRUE(window.isUntitled());
    EXPECT_TRUE(window.isModified());
    EXPECT_EQ(world_.RowCount(), 0);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
}

TEST_F(MainWindowTest, ShowsTheListColumnsAndButtons) {
    MainWindow& window = OpenWith(2);
    FilterListView* list = window.filterList();
    ASSERT_EQ(list->model()->columnCount(), 8);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("En."));
    EXPECT_EQ(list->model()->headerData(7, Qt::Horizontal).toString(),
              QStringLiteral("Filename Dummy"));
    EXPECT_EQ(list->columnWidth(3), 210);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    // Row 1: content type 1 (jpg), size 100, URL, folder template, stem.
    EXPECT_EQ(world_.Cell(1, 0), QString());
    EXPECT_EQ(world_.CheckState(1), Qt::Checked);
    EXPECT_EQ(world_.Cell(1, 1), QStringLiteral("jpg"));
    EXPECT_EQ(world_.Cell(1, 2), QStringLiteral("100"));
    EXPECT_EQ(world_.Cell(1, 3), QStringLiteral("site1"));
    EXPECT_EQ(world_.Cell(1, 6), QStringLiteral("~/out/1"));
    EXPECT_EQ(world_.Cell(1, 7), QStringLiteral("f1"));
    // Twelve image buttons, each showing its command's action: no caption,
    // the command's text in the tooltip.
    const Command commands[] = {Command::New,  Command::Open,    Command::Save, Command::SaveAs,
                                Command::Add,  Command::Delete,  Command::Edit, Command::Up,
                                Command::Down, Command::Options, Command::Help};
    for (const Command command : commands) {
        ImageButton* button = window.button(window.action(command));
        ASSERT_NE(button, nullptr) << static_cast<int>(command);
        EXPECT_TRUE(button->text().isEmpty());
        EXPECT_FALSE(button->toolTip().isEmpty());
    }
    for (const char* word : {"mozilla", "ie"}) {
        ASSERT_NE(window.button(window.commands().combAction(*browserByWord(word))), nullptr)
            << word;
    }
    EXPECT_TRUE(window.button(window.commands().combAction(*browserByWord("mozilla")))
                    ->toolTip()
                    .contains(QStringLiteral("Capture and Save Files from Mozilla")));
    // The browsers without a picture of their own (the Chromium family and
    // the desktop apps) are reached through one more comb button, each with
    // its own command.
    QAction* other = window.commands().otherBrowsers();
    ASSERT_NE(other, nullptr);
    ASSERT_NE(window.button(other), nullptr);
    EXPECT_EQ(other->toolTip(), QStringLiteral("Other Browsers"));
    QStringList otherTexts;
    for (const CombCommand& comb : window.commands().otherCombCommands()) {
        otherTexts << comb.action->text();
    }
    EXPECT_EQ(otherTexts.size(),
              std::count_if(browserTable().begin(), browserTable().end(),
                            [](const BrowserRow& row) { return row.icon.empty(); }));
    EXPECT_TRUE(otherTexts.contains(QStringLiteral("Capture and Save Files from Chromium")));
    EXPECT_TRUE(otherTexts.contains(QStringLiteral("Capture and Save Files from Desktop Apps")));
    // A click runs the command.
    world_.notifier().answer = MessageResult::No;
    QTest::mouseClick(window.button(window.action(Command::New)), Qt::LeftButton);
    EXPECT_TRUE(window.isUntitled());
}

// ---- Titles, New, Open, Save ----

TEST_F(MainWindowTest, NewThenSaveShowsTheFileInTheTitle) {
    MainWindow& window = OpenWith(2);
    window.newFilterSet();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
    EXPECT_EQ(world_.RowCount(), 0);
    const std::string saved = pathToUtf8(world_.dir() / "a.flt");
    world_.desktop().saveAnswers.push_back(saved);
    window.save();
    EXPECT_EQ(window.windowTitle(), Title(saved, false));
    EXPECT_FALSE(window.isUntitled());
    EXPECT_TRUE(fs::exists(saved));
    EXPECT_EQ(theSettings().FiltersFileName, saved);
    // A second save writes to the same file without asking.
    window.save();
    EXPECT_EQ(world_.desktop().saveAsked, 1);
}

TEST_F(MainWindowTest, CancelledSaveOfANewSetWritesNothing) {
    MainWindow& window = OpenWith(1);
    window.newFilterSet();
    window.save();  // the save dialog answers Cancel
    EXPECT_EQ(world_.desktop().saveAsked, 1);
    EXPECT_TRUE(window.isModified());
    EXPECT_TRUE(window.isUntitled());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
    EXPECT_EQ(theSettings().FiltersFileName, pathToUtf8(startFilter_));
}

TEST_F(MainWindowTest, AFailedSaveSaysWhichFileAndWhy) {
    MainWindow& window = OpenWith(1);
    window.newFilterSet();
    const std::string path = pathToUtf8(world_.dir() / "missing-folder" / "a.flt");
    world_.desktop().saveAnswers.push_back(path);
    window.save();
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(world_.notifier().messages[0].text, path + "\n" + std::strerror(ENOENT));
    EXPECT_TRUE(window.isModified());
    EXPECT_TRUE(window.isUntitled());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Harvix - [New Filter*]"));
}

// A set from the file that comes with the program is saved to the user's
// filter folder; the shipped file is never written, not even by Save As.
TEST_F(MainWindowTest, ASetFromTheShippedFileIsSavedToTheUsersFolder) {
    const fs::path shipped = world_.WriteFilter("prog/Filters/Default.flt", 2);
    const std::string before = readFile(shipped);
    MainWindow& window = world_.Open(world_.dir() / "missing.flt");
    ASSERT_EQ(window.windowTitle(), Title(pathToUtf8(shipped), false));
    window.uncheckAll();
    window.save();
    const fs::path copy = world_.UserFilters() / "Default.flt";
    EXPECT_EQ(world_.desktop().saveAsked, 0);
    EXPECT_EQ(readFile(shipped), before);
    EXPECT_NE(readFile(copy).find("Disabled=1"), std::string::npos);
    EXPECT_EQ(window.windowTitle(), Title(pathToUtf8(copy), false));
    // The settings name the copy at once: the next start opens it.
    EXPECT_NE(
        readFile(world_.ProgramFolder() / "Harvix.cfg").find("FiltersFileName=" + pathToUtf8(copy)),
        std::string::npos);

    // Save As: the dialog opens in the user's folder; a shipped file is
    // refused with a message and the set keeps its changes.
    window.checkAll();
    world_.desktop().saveAnswers.push_back(pathToUtf8(shipped));
    window.saveAs();
    EXPECT_EQ(world_.desktop().saveAsked, 1);
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_NE(world_.notifier().messages[0].text.find("never changed"), std::string::npos);
    EXPECT_EQ(readFile(shipped), before);
    EXPECT_TRUE(window.isModified());
    const std::string other = pathToUtf8(world_.UserFilters() / "other.flt");
    world_.desktop().saveAnswers.push_back(other);
    window.saveAs();
    EXPECT_FALSE(window.isModified());
    EXPECT_EQ(window.windowTitle(), Title(other, false));
    EXPECT_EQ(readFile(other).find("Disabled=1"), std::string::npos);
    EXPECT_NE(readFile(copy).find("Disabled=1"), std::string::npos);  // the copy as it was
    EXPECT_EQ(theSettings().FiltersFileName, other);
}

TEST_F(MainWindowTest, TheUsersOwnDefaultComesBeforeTheShippedOneAndIsNeverOverwrittenUnasked) {
    const fs::path shipped = world_.WriteFilter("prog/Filters/Default.flt", 2);
    const fs::path own = world_.WriteFilter("config/Harvix/Filters/Default.flt", 4);
    MainWindow& window = world_.Open(world_.dir() / "missing.flt");
    EXPECT_EQ(world_.RowCount(), 4);
    EXPECT_EQ(window.windowTitle(), Title(pathToUtf8(own), false));
    // Opened by hand, the shipped set saves under a name the user gives,
    // since the user's Default.flt is there already.
    world_.desktop().openAnswers.push_back(pathToUtf8(shipped));
    window.openFilterSet();
    ASSERT_EQ(world_.RowCount(), 2);
    window.uncheckAll();
    const std::string ownBefore = readFile(own);
    window.save();  // the dialog answers Cancel
    EXPECT_EQ(world_.desktop().saveAsked, 1);
    EXPECT_EQ(readFile(own), ownBefore);
    EXPECT_TRUE(window.isModified());
}

TEST_F(MainWindowTest, NewOnAChangedSetAsksAndNoDiscards) {
    MainWindow& window = OpenWith(2);
    window.uncheckAll();
    world_.notifier().answer = MessageResult::No;
    const std::string before = readFile(startFilter_);
    window.newFilterSet();
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text,
              "The filter has been changed. Would you like to save the filter in a file?");
    EXPECT_EQ(world_.notifier().messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(readFile(startFilter_), before);
    EXPECT_EQ(world_.RowCount(), 0);
}

TEST_F(MainWindowTest, NewOnAChangedSetAndYesSavesFirst) {
    MainWindow& window = OpenWith(2);
    window.uncheckAll();
    world_.notifier().answer = MessageResult::Yes;
    window.newFilterSet();
    EXPECT_NE(readFile(startFilter_).find("Disabled=1"), std::string::npos);
    EXPECT_EQ(world_.desktop().saveAsked, 0);  // the set had a file
    EXPECT_TRUE(window.isUntitled());
}

TEST_F(MainWindowTest, YesOnAnUntitledSetAsksForAFileAndCancelLosesTheChanges) {
    MainWindow& window = OpenWith(1);
    window.newFilterSet();
    world_.desktop().editor = [](FilterItem&) { return true; };
    window.addItem();
    world_.notifier().answer = MessageResult::Yes;
    const fs::path other = world_.WriteFilter("other.flt", 4);
    world_.desktop().openAnswers.push_back(pathToUtf8(other));
    window.openFilterSet();  // question, save dialog (cancelled), then the open goes on
    EXPECT_EQ(world_.desktop().saveAsked, 1);
    EXPECT_EQ(world_.RowCount(), 4);
    EXPECT_FALSE(window.isModified());
    EXPECT_FALSE(window.isUntitled());
    EXPECT_EQ(window.windowTitle(), Title(pathToUtf8(other), false));
}

TEST_F(MainWindowTest, OpenCancelledChangesNothing) {
    MainWindow& window = OpenWith(3);
    const QString title = window.windowTitle();
    window.openFilterSet();
    EXPECT_EQ(world_.desktop().openAsked, 1);
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_EQ(window.windowTitle(), title);
}

TEST_F(MainWindowTest, OpenOfAFileThatIsNoFilterGivesAnEmptyUnchangedSet) {
    MainWindow& window = OpenWith(3);
    const fs::path junk = world_.dir() / "junk.flt";
    writeFile(junk, "not a filter file\n");
    world_.desktop().openAnswers.push_back(pathToUtf8(junk));
    window.openFilterSet();
    EXPECT_EQ(world_.RowCount(), 0);
    EXPECT_FALSE(window.isModified());
    EXPECT_EQ(window.windowTitle(), Title(pathToUtf8(junk), false));
    EXPECT_TRUE(world_.notifier().messages.empty());
}

// ---- Add, Delete, Edit ----

TEST_F(MainWindowTest, AddWithoutSelectionPutsTheItemFirst) {
    MainWindow& window = OpenWith(3);
    theSettings().DefaultCombPath = "~/picked";
    theSettings().DefaultFileNameDummy = "stem";
    FilterItem seen;
    world_.desktop().editor = [&](FilterItem& item) {
        seen = item;
        item.url = "new, one";
        return true;
    };
    window.addItem();
    EXPECT_EQ(world_.desktop().editorCaptions, std::vector<std::string>{"Add"});
    EXPECT_EQ(seen.directoryTemplate, "~/picked");
    EXPECT_EQ(seen.stem, "stem");
    ASSERT_EQ(world_.RowCount(), 4);
    EXPECT_EQ(world_.Cell(0, 3), QStringLiteral("new, one"));
    EXPECT_EQ(window.selectedRow(), 0);
    EXPECT_EQ(world_.filter().items[0]->urlParts, (std::vector<std::string>{"new", "one"}));
    EXPECT_TRUE(window.isModified());
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("*]")));
    // The editor was told where the item would stand, to say which earlier
    // item takes its entries first.
    ASSERT_EQ(world_.desktop().editorPlaces.size(), 1u);
    EXPECT_EQ(world_.desktop().editorPlaces[0].set, &world_.filter());
    EXPECT_EQ(world_.desktop().editorPlaces[0].position, 0u);
    EXPECT_TRUE(world_.desktop().editorPlaces[0].oneCopy);
}

TEST_F(MainWindowTest, AddAboveTheSelectedRow) {
    MainWindow& window = OpenWith(5);
    world_.desktop().editor = [](FilterItem& item) {
        item.url = "inserted";
        return true;
    };
    Select(2);
    window.addItem();
    EXPECT_EQ(Urls(),
              (std::vector<std::string>{"site0", "site1", "inserted", "site2", "site3", "site4"}));
    EXPECT_EQ(window.selectedRow(), 2);
    EXPECT_EQ(world_.desktop().editorPlaces.back().position, 2u);
    // Above the last row; the set never grows at its end.
    Select(5);
    theSettings().OneCopy = false;
    window.addItem();
    EXPECT_EQ(world_.RowCount(), 7);
    EXPECT_EQ(window.selectedRow(), 5);
    EXPECT_EQ(Urls().back(), "site4");
    EXPECT_FALSE(world_.desktop().editorPlaces.back().oneCopy);
}

TEST_F(MainWindowTest, AddCancelledDiscardsTheItem) {
    MainWindow& window = OpenWith(2);
    window.addItem();
    EXPECT_EQ(world_.RowCount(), 2);
    EXPECT_FALSE(window.isModified());
}

TEST_F(MainWindowTest, DeleteAsksAndKeepsASelection) {
    MainWindow& window = OpenWith(3);
    Select(2);
    world_.notifier().answer = MessageResult::No;
    window.deleteItem();
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_FALSE(window.isModified());
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text, "Are you sure?");

    world_.notifier().answer = MessageResult::Yes;
    window.deleteItem();  // the last of several: the new last row is selected
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1"}));
    EXPECT_EQ(window.selectedRow(), 1);
    Select(0);
    window.deleteItem();  // the same place, now the next item
    EXPECT_EQ(Urls(), std::vector<std::string>{"site1"});
    EXPECT_EQ(window.selectedRow(), 0);
    window.deleteItem();  // the only row
    EXPECT_EQ(world_.RowCount(), 0);
    EXPECT_EQ(window.selectedRow(), -1);
    EXPECT_TRUE(window.isModified());
}

TEST_F(MainWindowTest, EditRewritesTheRowAndTheUrlParts) {
    MainWindow& window = OpenWith(3);
    Select(1);
    world_.desktop().editor = [](FilterItem& item) {
        item.url = "a.com, b .net";
        item.contentType = 3;
        return true;
    };
    window.editItem();
    EXPECT_EQ(world_.desktop().editorCaptions, std::vector<std::string>{"Edit"});
    EXPECT_EQ(world_.Cell(1, 1), QStringLiteral("png"));
    EXPECT_EQ(world_.Cell(1, 3), QStringLiteral("a.com, b .net"));
    EXPECT_EQ(world_.filter().items[1]->urlParts, (std::vector<std::string>{"a.com", "b.net"}));
    EXPECT_TRUE(window.isModified());
    // Cancel leaves all as it was.
    world_.desktop().editor = nullptr;
    window.save();
    window.editItem();
    EXPECT_FALSE(window.isModified());
}

TEST_F(MainWindowTest, CommandsThatNeedARowDoNothingWithoutOne) {
    MainWindow& window = OpenWith(3);
    world_.desktop().editor = [](FilterItem&) { return true; };
    world_.notifier().answer = MessageResult::Yes;
    window.editItem();
    window.deleteItem();
    window.moveUp();
    window.moveDown();
    window.openFolder();
    EXPECT_EQ(world_.RowCount(), 3);
    EXPECT_FALSE(window.isModified());
    EXPECT_TRUE(world_.desktop().editorCaptions.empty());
    EXPECT_TRUE(world_.notifier().messages.empty());
    EXPECT_TRUE(world_.desktop().opened.empty());
}

// ---- Up and Down ----

TEST_F(MainWindowTest, UpAndDownMoveTheRowAndKeepTheFocus) {
    MainWindow& window = OpenWith(3);
    Select(1);
    window.moveUp();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site1", "site0", "site2"}));
    EXPECT_EQ(window.selectedRow(), 0);
    EXPECT_EQ(world_.CurrentRow(), 1);
    EXPECT_TRUE(window.isModified());
    window.moveDown();
    window.moveDown();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site2", "site1"}));
    EXPECT_EQ(window.selectedRow(), 2);
    EXPECT_EQ(world_.CurrentRow(), 1);
}

TEST_F(MainWindowTest, UpOnTheFirstRowAndDownOnTheLastDoNothing) {
    MainWindow& window = OpenWith(3);
    Select(0);
    window.moveUp();
    Select(2);
    window.moveDown();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1", "site2"}));
    EXPECT_FALSE(window.isModified());
    EXPECT_EQ(window.selectedRow(), 2);
}

// ---- Check boxes ----

TEST_F(MainWindowTest, ACheckBoxChangesTheItemButNotYetTheTitle) {
    MainWindow& window = OpenWith(3);
    const QString title = window.windowTitle();
    FilterListModel& model = *window.filterModel();
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_TRUE(world_.filter().items[1]->disabled);
    EXPECT_TRUE(window.isModified());
    EXPECT_EQ(window.windowTitle(), title);
    window.updateTitle();
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("*]")));
}

TEST_F(MainWindowTest, CheckAllAndUncheckAll) {
    MainWindow& window = OpenWith(3);
    window.uncheckAll();
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(world_.filter().items[static_cast<std::size_t>(row)]->disabled);
        EXPECT_EQ(world_.CheckState(row), Qt::Unchecked);
    }
    window.checkAll();
    for (int row = 0; row < 3; ++row) {
        EXPECT_FALSE(world_.filter().items[static_cast<std::size_t>(row)]->disabled);
    }
    EXPECT_TRUE(window.windowTitle().endsWith(QStringLiteral("*]")));
}

// ---- Busy ----

TEST_F(MainWindowTest, TheUserEditsOnWhileARunCombsItsSnapshot) {
    MainWindow& window = OpenWith(3);
    Select(1);
    world_.desktop().editor = [](FilterItem& item) {
        item.url = "edited";
        return true;
    };
    world_.desktop().options = [] { return true; };
    world_.notifier().answer = MessageResult::Yes;
    // A manual run starts: only another comb command waits for its end.
    window.coordinator().busy = true;
    CoordinatorEvents& events = window.combReports().events();
    events.runState(*browserByWord("mozilla"), true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.filterList()->isEnabled());
    for (const CombCommand& comb : window.commands().combCommands()) {
        EXPECT_FALSE(comb.action->isEnabled());
        EXPECT_FALSE(window.button(comb.action)->isEnabled());
    }
    window.action(Command::Edit)->trigger();
    window.action(Command::Delete)->trigger();
    window.action(Command::Up)->trigger();
    window.action(Command::UncheckAll)->trigger();
    window.action(Command::Options)->trigger();
    window.action(Command::Help)->trigger();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site2", "site0"}));
    EXPECT_TRUE(world_.filter().items[0]->disabled);
    EXPECT_TRUE(window.isModified());
    EXPECT_EQ(world_.desktop().optionsShown, 1);
    EXPECT_EQ(world_.desktop().opened.size(), 1u);

    // These work as ever.
    QSignalSpy exits(&window, &MainWindow::exitRequested);
    for (const Command command : {Command::OpenFolder, Command::VisitSite,
                                  Command::DownloadLastVersion, Command::About, Command::Filters}) {
        window.action(command)->trigger();
    }
    // Uncheck All left no row selected: Open Folder had nothing to open.
    EXPECT_EQ(world_.desktop().opened.size(), 3u);
    EXPECT_EQ(world_.desktop().aboutShown, 1);
    EXPECT_TRUE(window.isVisible());
    window.coordinator().busy = false;
    events.runState(*browserByWord("mozilla"), false);
    QCoreApplication::processEvents();
    for (const CombCommand& comb : window.commands().combCommands()) {
        EXPECT_TRUE(comb.action->isEnabled());
    }
    window.action(Command::Exit)->trigger();
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, AFoundCacheFolderIsKeptOnlyWhenTheOptionStayedAsTheRunBegan) {
    OpenWith(1);
    MainWindow& window = world_.window();
    CoordinatorEvents& events = window.combReports().events();
    theSettings().MozillaCachePath.clear();
    std::thread run([&] { events.cacheFolderFound("", "/home/tester/found/cache2"); });
    run.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(theSettings().MozillaCachePath, "/home/tester/found/cache2");
    // The user typed another folder while the next run went on.
    theSettings().MozillaCachePath = "/home/tester/typed";
    std::thread later([&] { events.cacheFolderFound("/home/tester/found/cache2", "/elsewhere"); });
    later.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(theSettings().MozillaCachePath, "/home/tester/typed");
}

// ---- The desktop's open action ----

TEST_F(MainWindowTest, HelpAndWebCommandsOpenTheirAddresses) {
    MainWindow& window = OpenWith(1);
    window.showHelp();
    window.visitSite();
    window.downloadLastVersion();
    ASSERT_EQ(world_.desktop().opened.size(), 3u);
    EXPECT_EQ(world_.desktop().opened[0],
              QUrl::fromLocalFile(QString::fromStdString(pathToUtf8(theSettings().helpPath))));
    EXPECT_TRUE(
        world_.desktop().opened[0].toLocalFile().endsWith(QStringLiteral("help/index.html")));
    // No web site of its own: the installed manual, and its section on
    // versions, stand in for it.
    EXPECT_EQ(world_.desktop().opened[1], world_.desktop().opened[0]);
    EXPECT_EQ(world_.desktop().opened[2].adjusted(QUrl::RemoveFragment),
              world_.desktop().opened[0]);
    EXPECT_EQ(world_.desktop().opened[2].fragment(), QStringLiteral("versions"));
}

TEST_F(MainWindowTest, OpenFolderOpensTheFolderOfTheLastLoad) {
    MainWindow& window = OpenWith(2);
    Select(1);
    window.openFolder();
    ASSERT_EQ(world_.desktop().opened.size(), 1u);
    EXPECT_EQ(world_.desktop().opened[0].toLocalFile(),
              QString::fromStdString(pathToUtf8(fs::path("/home/tester") / "out" / "1")));
    // An item added since has no folder yet: an empty address.
    world_.desktop().editor = [](FilterItem&) { return true; };
    window.addItem();
    window.openFolder();
    ASSERT_EQ(world_.desktop().opened.size(), 2u);
    EXPECT_TRUE(world_.desktop().opened[1].isEmpty());
}

TEST_F(MainWindowTest, OptionsOkWithAnotherLanguageReappliesTheTexts) {
    MainWindow& window = OpenWith(1);
    const fs::path german = world_.ProgramFolder() / "Langs" / "German.lng";
    writeFile(german, "[GENERAL]\nLanguage=Deutsch\nFilterListURL=Adresse\n");
    world_.desktop().options = [&] {
        theSettings().Language = pathToUtf8(german);
        loadLanguage(theLanguage(), theSettings());
        return true;
    };
    window.showOptions();
    EXPECT_EQ(window.filterModel()->headerData(3, Qt::Horizontal).toString(),
              QStringLiteral("Adresse"));
    // Cancel changes nothing.
    world_.desktop().options = [] {
        theLanguage().FilterListURL = "changed";
        return false;
    };
    window.showOptions();
    EXPECT_EQ(window.filterModel()->headerData(3, Qt::Horizontal).toString(),
              QStringLiteral("Adresse"));
}

// ---- The list's menu ----

TEST_F(MainWindowTest, TheListMenuDependsOnTheSelection) {
    MainWindow& window = OpenWith(2);
    std::unique_ptr<QMenu> menu = window.buildListMenu();
    EXPECT_EQ(MenuTexts(*menu), (std::vector<QString>{"Add", "-", "Check All", "Uncheck All", "-",
                                                      "Save", "Save As", "-", "Browse Cache"}));
    Select(0);
    menu = window.buildListMenu();
    EXPECT_EQ(MenuTexts(*menu),
              (std::vector<QString>{"Add", "Delete", "Edit", "-", "Up", "Down", "-", "Open Folder",
                                    "-", "Check All", "Uncheck All", "-", "Save", "Save As", "-",
                                    "Browse Cache"}));
}

TEST_F(MainWindowTest, TheListMenuOpensOnlyForAPointOnTheList) {
    MainWindow& window = OpenWith(2);
    FilterListView* list = window.filterList();
    const QPoint inside = list->mapToGlobal(QPoint(list->width() / 2, list->height() / 2));
    window.showListMenu(inside, true);  // from the keyboard
    window.showListMenu(list->mapToGlobal(QPoint(-5, -5)), false);
    EXPECT_TRUE(world_.desktop().menus.empty());
    // A run combs its own snapshot: the menu opens during a run too.
    window.coordinator().busy = true;
    window.showListMenu(inside, false);
    EXPECT_EQ(world_.desktop().menus.size(), 1u);
    window.coordinator().busy = false;

    // The chosen item runs its command.
    world_.desktop().menuChoice = static_cast<int>(Command::UncheckAll);
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(10, 10),
                              list->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(list->viewport(), &request);
    ASSERT_EQ(world_.desktop().menus.size(), 2u);
    EXPECT_TRUE(world_.filter().items[0]->disabled);
    EXPECT_TRUE(world_.filter().items[1]->disabled);
}

// ---- Keys ----

// The keys are the actions' shortcuts: they work in the shown, active
// window, wherever its focus is.
void Activate(MainWindow& window) {
    window.showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.filterList()->setFocus();
}

TEST_F(MainWindowTest, CtrlSSavesAndSAloneDoesNothing) {
    MainWindow& window = OpenWith(2);
    Activate(window);
    window.uncheckAll();
    QTest::keyClick(window.filterList(), Qt::Key_S);
    EXPECT_TRUE(window.isModified());
    EXPECT_EQ(readFile(startFilter_).find("Disabled=1"), std::string::npos);
    QTest::keyClick(window.filterList(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(window.isModified());
    EXPECT_NE(readFile(startFilter_).find("Disabled=1"), std::string::npos);
}

TEST_F(MainWindowTest, KeysRunTheirCommands) {
    MainWindow& window = OpenWith(3);
    FilterListView* list = window.filterList();
    Activate(window);
    world_.desktop().editor = [](FilterItem&) { return true; };
    world_.notifier().answer = MessageResult::Yes;

    Select(1);
    QTest::keyClick(list, Qt::Key_Return);  // Edit
    EXPECT_EQ(world_.desktop().editorCaptions, std::vector<std::string>{"Edit"});
    QTest::keyClick(list, Qt::Key_Insert);  // Add above row 1
    EXPECT_EQ(world_.RowCount(), 4);
    EXPECT_EQ(window.selectedRow(), 1);
    QTest::keyClick(list, Qt::Key_Delete);  // Delete, after the question
    EXPECT_EQ(world_.RowCount(), 3);

    Select(1);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site1", "site0", "site2"}));
    EXPECT_EQ(window.selectedRow(), 0);
    QTest::keyClick(list, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1", "site2"}));
    EXPECT_EQ(window.selectedRow(), 1);
    // A plain arrow only moves the selection.
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"site0", "site1", "site2"}));

    QTest::keyClick(list, Qt::Key_F1);
    ASSERT_FALSE(world_.desktop().opened.empty());
    EXPECT_TRUE(
        world_.desktop().opened.back().toLocalFile().endsWith(QStringLiteral("index.html")));

    world_.desktop().openAnswers.push_back(pathToUtf8(startFilter_));
    world_.notifier().answer = MessageResult::No;
    QTest::keyClick(list, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(world_.desktop().openAsked, 1);
    QTest::keyClick(list, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(window.isUntitled());
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheWindowShowsAndClosingItEnds) {
    const fs::path start = world_.WriteFilter("start.flt", 1);
    MainWindow& window = world_.Open(start, false);
    EXPECT_FALSE(window.isTrayAvailable());
    EXPECT_TRUE(window.isVisible());
    QSignalSpy exits(&window, &MainWindow::exitRequested);
    // A tray host appears: hiding is safe again.
    world_.SetTrayAvailable(true);
    window.tray().checkAvailability();
    EXPECT_TRUE(window.isTrayAvailable());
    QTest::keyClick(window.filterList(), Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(exits.count(), 0);
    // It goes away again: the hidden window comes back, and closing it ends
    // the program.
    world_.SetTrayAvailable(false);
    window.tray().checkAvailability();
    EXPECT_TRUE(window.isVisible());
    window.close();
    EXPECT_EQ(exits.count(), 1);
    EXPECT_TRUE(window.isExiting());
}

// Exit from the tray menu offers a changed set for saving, as closing the
// window does; an unchanged set ends without a question.
TEST_F(MainWindowTest, ExitWithUnsavedChangesAsksFirst) {
    MainWindow& window = OpenWith(2);
    QSignalSpy exits(&window, &MainWindow::exitRequested);
    window.uncheckAll();
    world_.notifier().answer = MessageResult::Yes;
    std::unique_ptr<PictureMenu> trayMenu(window.tray().buildMenu(window.commands()));
    QAction* exit = nullptr;
    for (QAction* action : trayMenu->actions()) {
        exit = PictureMenu::commandId(action) == static_cast<int>(Command::Exit) ? action : exit;
    }
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].buttons, MessageButtons::YesNo);
    EXPECT_NE(readFile(startFilter_).find("Disabled=1"), std::string::npos);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_TRUE(window.isExiting());
}

TEST_F(MainWindowTest, ExitAnsweredNoEndsWithoutSaving) {
    MainWindow& window = OpenWith(2);
    QSignalSpy exits(&window, &MainWindow::exitRequested);
    window.uncheckAll();
    world_.notifier().answer = MessageResult::No;
    const std::string before = readFile(startFilter_);
    window.action(Command::Exit)->trigger();
    EXPECT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(readFile(startFilter_), before);
    EXPECT_EQ(exits.count(), 1);
}

TEST_F(MainWindowTest, ExitOnAnUnchangedSetAsksNothing) {
    MainWindow& window = OpenWith(2);
    QSignalSpy exits(&window, &MainWindow::exitRequested);
    window.action(Command::Exit)->trigger();
    EXPECT_TRUE(world_.notifier().messages.empty());
    EXPECT_EQ(exits.count(), 1);
}

TEST_F(MainWindowTest, EscAsksOnceAndHidesTheWindow) {
    MainWindow& window = OpenWith(2);
    window.showMainWindow();
    ASSERT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isFirstShow());
    window.uncheckAll();
    world_.notifier().answer = MessageResult::No;
    QTest::keyClick(window.filterList(), Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_TRUE(window.isModified());
    // The close box does the same; the program goes on.
    window.showMainWindow();
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(world_.notifier().messages.size(), 2u);
    EXPECT_FALSE(window.isExiting());
}

// ---- Reports from the comb threads ----

// Runs `work` on another thread while this thread serves the event loop, and
// lets the reports it queued arrive.
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
    QCoreApplication::processEvents();
}

TEST_F(MainWindowTest, RunStateAndProgressFromACombThread) {
    MainWindow& window = OpenWith(2);
    CoordinatorEvents& events = window.combReports().events();
    OnCombThread([&] {
        events.runState(*browserByWord("mozilla"), true);
        events.progress(40);
        // Queued: the comb thread never touches a window itself.
        EXPECT_EQ(window.progressWindow()->position(), 0);
    });
    EXPECT_EQ(window.progressWindow()->position(), 40);
    EXPECT_TRUE(window.filterList()->isEnabled());
    EXPECT_TRUE(window.progressWindow()->isVisible());
    EXPECT_TRUE(window.tray().isAnimating());
    OnCombThread([&] { events.runState(*browserByWord("mozilla"), false); });
    EXPECT_FALSE(window.progressWindow()->isVisible());
    EXPECT_FALSE(window.tray().isAnimating());
}

// A cache whose opening waits for the test, then lists entries without end.
class HeldReader : public CacheReader {
public:
    HeldReader(std::atomic<bool>& release, std::atomic<int>& listed, fs::path root)
        : release_(release), listed_(listed) {
        root_ = std::move(root);
    }
    void open() override {
        while (!release_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void readEntries(std::vector<std::unique_ptr<CacheEntry>>& out, SkipCounts&) override {
        while (keepReading(out) && out.size() < 200000) {
            out.push_back(std::make_unique<CacheEntry>());
            ++listed_;
        }
    }
    BodySource bodySource(const CacheEntry&) const override {
        throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileOpen, "none");
    }

private:
    std::atomic<bool>& release_;
    std::atomic<int>& listed_;
};

TEST_F(MainWindowTest, CancelInTheProgressWindowStopsTheRunAndTheNoticeSaysSo) {
    const fs::path filter = world_.dir() / "kept.flt";
    writeFile(filter, "[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=0\nDirectory=" +
                          (world_.dir() / "kept").string() + "\nFileNameDummy=f\n");
    MainWindow& window = world_.Open(filter);
    std::atomic<bool> release{false};
    std::atomic<int> listed{0};
    const fs::path root = world_.dir() / "cache";
    fs::create_directories(root);
    window.coordinator().makeReader = [&](const BrowserRow&, const std::string&) {
        return std::make_unique<HeldReader>(release, listed, root);
    };
    window.comb(*browserByWord("chromium"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.progressWindow()->isVisible(); }, 10000));
    QTest::mouseClick(window.progressWindow()->cancelButton, Qt::LeftButton);
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.tray().noticeTitle().isEmpty(); }, 10000));
    EXPECT_EQ(window.tray().noticeTitle(), QStringLiteral("Chromium: comb cancelled"));
    EXPECT_EQ(window.tray().noticeText(), QString::fromStdString(theLanguage().NotifyNoneKept));
    EXPECT_LT(listed.load(), 200000);  // the reading stopped too
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.progressWindow()->isVisible(); }, 10000));
}

// What the user learns of a run: the browser and the count while it runs,
// then a notice in the tray, whose click opens the first folder kept into.
TEST_F(MainWindowTest, EveryRunEndsWithANoticeOfWhatItDid) {
    MainWindow& window = OpenWith(1);
    CoordinatorEvents& events = window.combReports().events();
    const BrowserRow& chromium = *browserByWord("chromium");
    CombRun run;
    CombResult& result = run.result;
    result.entriesCombed = result.kept = 3;
    result.keptByFolder = {{"/data/kept/png", 2}, {"/data/kept/jpg", 1}};
    result.duplicates = 1;
    result.failed = 2;
    result.failures["the copy cannot be written (No space left on device)"] = {
        2, {"http://a.example/1.png", "http://a.example/2.png"}};
    OnCombThread([&] {
        events.runState(chromium, true);
        for (uint64_t done = 1; done <= 964; ++done) {
            events.entryCombed(chromium, done, 964);
        }
    });
    EXPECT_EQ(window.progressWindow()->text(), QStringLiteral("Chromium: 964 of 964"));
    EXPECT_TRUE(window.tray().noticeTitle().isEmpty());
    OnCombThread([&] {
        events.runFinished(chromium, run);
        events.runState(chromium, false);
    });
    EXPECT_EQ(window.tray().noticeTitle(), QStringLiteral("Chromium: comb finished"));
    const QString text = window.tray().noticeText();
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("Files kept: 3, in /data/kept/png, /data/kept/jpg\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Duplicates skipped: 1")));
    EXPECT_TRUE(text.contains(QStringLiteral(
        "2 \u00d7 the copy cannot be written (No space left on device): http://a.example/1.png")));
    emit window.tray().systemTrayIcon()->messageClicked();
    ASSERT_EQ(world_.desktop().opened.size(), 1u);
    EXPECT_EQ(world_.desktop().opened[0], QUrl::fromLocalFile(QStringLiteral("/data/kept/png")));

    // A run that found nothing to do tells nothing; nor does one whose
    // cache could not be opened, which its box has told.
    const ErrorReport missing(ErrorReport::ChromiumCache, ErrorReport::CacheOpen,
                              "/home/tester/.cache/chromium", {}, ENOENT);
    CombRun failed;
    failed.openError = missing;
    for (const CombRun& quiet : {CombRun{}, failed}) {
        OnCombThread([&] {
            events.runState(chromium, true);
            if (quiet.openError) {
                events.error(chromium, *quiet.openError);
            }
            events.runFinished(chromium, quiet);
            events.runState(chromium, false);
        });
        EXPECT_EQ(window.tray().noticeTitle(), QStringLiteral("Chromium: comb finished"));
        EXPECT_EQ(window.tray().noticeText(), text);
    }
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text, errorBoxText(missing, theLanguage(), &chromium));

    // Without a notification area the program's own bubble tells it.
    world_.SetTrayAvailable(false);
    window.tray().checkAvailability();
    result.stopped = true;
    OnCombThread([&] {
        events.runState(chromium, true);
        events.runFinished(chromium, run);
        events.runState(chromium, false);
    });
    EXPECT_EQ(window.tray().noticeTitle(), QStringLiteral("Chromium: comb cancelled"));
    ASSERT_NE(window.tray().bubble(), nullptr);
    EXPECT_TRUE(window.tray().bubble()->isVisible());
    EXPECT_TRUE(window.tray().bubble()->text().startsWith(QStringLiteral("Files kept: 3")));
    // A click opens the first folder kept into.
    QTest::mouseClick(window.tray().bubble(), Qt::LeftButton);
    EXPECT_FALSE(window.tray().bubble()->isVisible());
    ASSERT_EQ(world_.desktop().opened.size(), 2u);
    EXPECT_EQ(world_.desktop().opened[1], QUrl::fromLocalFile(QStringLiteral("/data/kept/png")));
}

TEST_F(MainWindowTest, WithoutTheSettingTheProgressWindowStaysHidden) {
    MainWindow& window = OpenWith(1);
    theSettings().ShowNotifyProgressBar = false;
    CoordinatorEvents& events = window.combReports().events();
    OnCombThread([&] {
        events.runState(*browserByWord("mozilla"), true);
        events.progress(70);
    });
    EXPECT_FALSE(window.progressWindow()->isVisible());
    EXPECT_EQ(window.progressWindow()->position(), 70);
    // An error report of the run becomes the error box the user always saw,
    // in the window's language; a copy failure shows none.
    const ErrorReport cacheOpen(ErrorReport::MozillaCache, ErrorReport::CacheOpen, "/no/cache");
    const ErrorReport copy(ErrorReport::MozillaCache, ErrorReport::FileCopy, "/a", "/b", EIO);
    OnCombThread([&] {
        events.error(*browserByWord("mozilla"), cacheOpen);
        events.error(*browserByWord("mozilla"), copy);
    });
    ASSERT_EQ(world_.notifier().messages.size(), 1u);
    EXPECT_EQ(world_.notifier().messages[0].text, errorBoxText(cacheOpen, theLanguage()));
    EXPECT_EQ(world_.notifier().messages[0].icon, MessageIcon::Error);
    OnCombThread([&] { events.runState(*browserByWord("mozilla"), false); });
}

TEST(MainWindowShutdownTest, AReportAfterTheWindowIsGoneReturnsAtOnce) {
    CoordinatorEvents* events = nullptr;
    {
        MainWindowWorld world;
        world.WriteFilter("start.flt", 1);
        MainWindow& window = world.Open(world.dir() / "start.flt");
        events = &window.combReports().events();
    }
    const auto start = std::chrono::steady_clock::now();
    std::thread late([&] {
        events->runState(*browserByWord("mozilla"), true);
        events->progress(50);
        events->cacheFolderFound("", "/x");
    });
    late.join();
    QCoreApplication::processEvents();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(MainWindowShutdownTest, AReportNeverWaitsForTheWindowAndIsDroppedWhenTheWindowGoes) {
    auto world = std::make_unique<MainWindowWorld>();
    world->WriteFilter("start.flt", 1);
    MainWindow& window = world->Open(world->dir() / "start.flt");
    CoordinatorEvents& events = window.combReports().events();
    // The UI thread serves no events: the report still returns at once.
    const auto start = std::chrono::steady_clock::now();
    std::thread comb([&] { events.progress(10); });
    comb.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(window.progressWindow()->position(), 0);
    world.reset();  // deletes the window with the report still queued
    QCoreApplication::processEvents();
}

}  // namespace
