// The tray icon: icon and tooltip, the animation and its requests from a
// comb thread, the mouse on the icon, and the tray menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "GuiTestSupport.h"
#include "controls/PictureMenu.h"
#include "controls/Pictures.h"
#include "ui/AboutDialog.h"
#include "ui/Commands.h"
#include "ui/ProgramState.h"
#include "ui/TrayIcon.h"

using namespace harvix;

namespace {

// The frame shown after `ticks` ticks of an animation: 185, 186, 187, 188, 184, ...
int FrameAfter(int ticks) {
    return kPictureTrayFrame0 + ticks % 5;
}

struct TrayIconTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(tray.create(nullptr, kPictureAppIcon));
        ASSERT_TRUE(tray.loadAnimationFrames());
    }
    TrayIcon tray;
};

}  // namespace

TEST_F(TrayIconTest, AddsTheApplicationIconWithItsTooltip) {
    EXPECT_TRUE(tray.isEnabled());
    EXPECT_FALSE(tray.isHidden());
    ASSERT_NE(tray.systemTrayIcon(), nullptr);
    EXPECT_TRUE(tray.systemTrayIcon()->isVisible());
    EXPECT_EQ(tray.systemTrayIcon()->toolTip(), QStringLiteral("Harvix"));
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
    EXPECT_EQ(tray.frameCount(), 5);
}

TEST_F(TrayIconTest, MissingPictureChangesNothing) {
    EXPECT_FALSE(tray.setIconFromResource(4711));
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
    EXPECT_TRUE(tray.setIconFromResource(kPictureTrayFrame0));
    EXPECT_EQ(tray.shownIconId(), kPictureTrayFrame0);
}

TEST(TrayIcon, WithoutFramesThereIsNoAnimation) {
    TrayIcon tray;
    ASSERT_TRUE(tray.create(nullptr, kPictureAppIcon));
    EXPECT_FALSE(tray.beginAnimation());
    EXPECT_FALSE(tray.isAnimating());
    EXPECT_FALSE(tray.endAnimation());
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
}

TEST_F(TrayIconTest, AnimationStepsThroughTheFramesAndRestoresTheIcon) {
    ASSERT_TRUE(tray.beginAnimation());
    EXPECT_TRUE(tray.isAnimating());
    // Nothing changes at the start; the first tick shows the second frame.
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
    std::vector<int> seen;
    QObject watcher;
    const bool reached = QTest::qWaitFor(
        [&] {
            if (seen.empty() || seen.back() != tray.shownIconId()) {
                if (tray.shownIconId() != kPictureAppIcon) {
                    seen.push_back(tray.shownIconId());
                }
            }
            return seen.size() >= 6;
        },
        5000);
    ASSERT_TRUE(reached);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], FrameAfter(static_cast<int>(i) + 1)) << i;
    }
    EXPECT_TRUE(tray.endAnimation());
    EXPECT_FALSE(tray.isAnimating());
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
    EXPECT_FALSE(tray.endAnimation());
}

TEST_F(TrayIconTest, ARunShorterThanOneFrameShowsNoFrame) {
    ASSERT_TRUE(tray.beginAnimation());
    QTest::qWait(20);
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
    EXPECT_TRUE(tray.endAnimation());
    EXPECT_TRUE(tray.setIconFromResource(kPictureAppIcon));
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
}

TEST_F(TrayIconTest, BeginningAgainRestoresThenSavesTheIconAndStartsFromTheFirstFrame) {
    ASSERT_TRUE(tray.beginAnimation());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.shownIconId() == FrameAfter(2); }, 3000));
    ASSERT_TRUE(tray.beginAnimation());
    // The first animation's saved icon is back and saved again.
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.shownIconId() != kPictureAppIcon; }, 3000));
    EXPECT_EQ(tray.shownIconId(), FrameAfter(1));
    tray.endAnimation();
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
}

TEST_F(TrayIconTest, AnIconSetDuringTheAnimationGivesWayToTheSavedOneAtTheEnd) {
    ASSERT_TRUE(tray.beginAnimation());
    EXPECT_TRUE(tray.setIconFromResource(kPictureMenuHelp));
    EXPECT_EQ(tray.shownIconId(), kPictureMenuHelp);
    tray.endAnimation();
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
}

TEST_F(TrayIconTest, RequestsFromACombThreadRunOnTheTraysThread) {
    std::thread comb([&] {
        EXPECT_TRUE(tray.requestBeginAnimation());
        // Queued: the comb thread never touches the icon itself.
        EXPECT_FALSE(tray.isAnimating());
    });
    comb.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.isAnimating(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.shownIconId() != kPictureAppIcon; }, 2000));

    std::thread end([&] {
        tray.requestEndAnimation();
        tray.requestIcon(kPictureAppIcon);
    });
    end.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tray.isAnimating(); }, 2000));
    EXPECT_EQ(tray.shownIconId(), kPictureAppIcon);
}

TEST_F(TrayIconTest, LeftPressAsksForTheMainWindowTheSystemOpensTheMenu) {
    QSignalSpy show(&tray, &TrayIcon::showMainWindowRequested);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(show.count(), 1);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(show.count(), 1);
    // The menu belongs to the icon; the system opens it on a right click,
    // nothing pops up at the pointer.
    const CommandSet commands;
    tray.setMenu(commands);
    ASSERT_NE(tray.menu(), nullptr);
    EXPECT_EQ(tray.systemTrayIcon()->contextMenu(), tray.menu());
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(show.count(), 1);

    QSignalSpy exit(commands.action(Command::Exit), &QAction::triggered);
    tray.menu()->popup(QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tray.menu()));
    const QList<QAction*> items = tray.menu()->commands();
    ASSERT_EQ(items.size(), 8);
    QTest::mouseClick(tray.menu(), Qt::LeftButton, {},
                      tray.menu()->actionGeometry(items.back()).center());
    EXPECT_EQ(exit.count(), 1);
    EXPECT_FALSE(tray.menu()->isVisible());
}

TEST_F(TrayIconTest, TrayMenuHasTheTitleEightCommandsAndThreeSeparators) {
    const CommandSet commands;
    std::unique_ptr<PictureMenu> menu(tray.buildMenu(commands));
    EXPECT_EQ(menu->titleLine(), AboutDialog::productLine());  // the about box's line
    const int expectedIds[] = {4104, 4105, 1010, -2, 4100, 4101, -2, 1011, 4099, -2, 4097};
    const int expectedPictures[] = {136, 198, 134, 0, 190, 191, 0, 192, 133, 0, 132};
    QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 12);  // the title line, then the eleven of the table
    items.removeFirst();
    int separators = 0;
    for (int i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        if (expectedIds[i] == -2) {
            EXPECT_TRUE(items[i]->isSeparator());
            ++separators;
            continue;
        }
        EXPECT_EQ(PictureMenu::commandId(items[i]), expectedIds[i]);
        // The main window's own action, shared.
        EXPECT_EQ(items[i], commands.byId(expectedIds[i]));
        EXPECT_EQ(items[i]->icon().pixmap(16, 16).toImage(),
                  pictureIcon(expectedPictures[i]).pixmap(16, 16).toImage());
        EXPECT_EQ(items[i]->font().bold(), i == 0);
    }
    EXPECT_EQ(separators, 3);
    EXPECT_EQ(menu->defaultAction(), items[0]);
    const QStringList texts = {items[0]->text(), items[1]->text(), items[2]->text(),
                               items[4]->text(), items[5]->text(), items[7]->text(),
                               items[8]->text(), items[10]->text()};
    EXPECT_EQ(texts, (QStringList{"Filters", "Browse Cache", "Options", "Visit Our Site",
                                  "Download the Last Version", "Help", "About", "Exit"}));
}

TEST_F(TrayIconTest, MenuTextsFollowTheLanguage) {
    ScopedLanguage keep;
    CommandSet commands;
    tray.setMenu(commands);
    theLanguage().TrayMenuFilters = "Filter";
    theLanguage().TrayMenuExit = "Beenden";
    commands.applyTexts(theLanguage());
    const QList<QAction*> items = tray.menu()->commands();
    EXPECT_EQ(items.front()->text(), QStringLiteral("Filter"));
    EXPECT_EQ(items.back()->text(), QStringLiteral("Beenden"));
}

TEST_F(TrayIconTest, AvailabilityIsWatchedUntilATrayHostAppears) {
    bool present = false;
    TrayIcon::setAvailabilityProbe([&] { return present; });
    TrayIcon late;
    QSignalSpy changes(&late, &TrayIcon::availabilityChanged);
    late.create(nullptr, kPictureAppIcon);
    EXPECT_FALSE(late.isAvailable());
    ASSERT_EQ(changes.count(), 1);
    present = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return late.isAvailable(); }, 3000));
    EXPECT_EQ(changes.count(), 2);
    EXPECT_TRUE(changes.back().front().toBool());
    TrayIcon::setAvailabilityProbe(nullptr);
}

TEST_F(TrayIconTest, EachNotificationOpensItsOwnFolder) {
    TrayIcon::setAvailabilityProbe([] { return true; });
    uint next = 40;
    TrayIcon::setNotificationService(
        [&](const QString&, const QString&, bool, bool) { return ++next; });
    tray.checkAvailability();
    QSignalSpy clicked(&tray, &TrayIcon::noticeClicked);
    tray.showNotice(QStringLiteral("Chromium: comb finished"), QStringLiteral("3"), false,
                    QStringLiteral("/a"));
    tray.showNotice(QStringLiteral("Brave: comb finished"), QStringLiteral("1"), false,
                    QStringLiteral("/b"));
    tray.showNotice(QStringLiteral("Opera: comb finished"), QStringLiteral("0"), false, QString());
    EXPECT_EQ(tray.bubble(), nullptr);
    // The older one clicked after the newer: its own folder.
    tray.onNotificationAction(41, QStringLiteral("default"));
    tray.onNotificationAction(42, QStringLiteral("default"));
    tray.onNotificationAction(43, QStringLiteral("default"));  // nothing to open
    tray.onNotificationClosed(41, 1);
    tray.onNotificationAction(41, QStringLiteral("default"));  // gone
    ASSERT_EQ(clicked.size(), 2);
    EXPECT_EQ(clicked[0][0].toString(), QStringLiteral("/a"));
    EXPECT_EQ(clicked[1][0].toString(), QStringLiteral("/b"));
    TrayIcon::setNotificationService(nullptr);
    TrayIcon::setAvailabilityProbe(nullptr);
}
