// The tray icon: icon and tooltip, the animation and its requests from a
// comb thread, the mouse on the icon, and the tray menu.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "GuiTestSupport.h"
#include "controls/PictureMenu.h"
#include "controls/Pictures.h"
#include "ui/SystemTray.h"

namespace {

// The frame shown after `ticks` ticks of an animation: 185, 186, 187, 188, 184, ...
int FrameAfter(int ticks) {
    return kPictureTrayFrame0 + ticks % 5;
}

struct TrayFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(tray.Create(nullptr, kPictureAppIcon));
        ASSERT_TRUE(tray.LoadAnimationFrames());
    }
    CSystemTray tray;
};

}  // namespace

TEST_F(TrayFixture, AddsTheApplicationIconWithItsTooltip) {
    EXPECT_TRUE(tray.IsEnabled());
    EXPECT_FALSE(tray.IsHidden());
    ASSERT_NE(tray.TrayIcon(), nullptr);
    EXPECT_TRUE(tray.TrayIcon()->isVisible());
    EXPECT_EQ(tray.TrayIcon()->toolTip(), QStringLiteral("Harvix"));
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
    EXPECT_EQ(tray.FrameCount(), 5);
}

TEST_F(TrayFixture, MissingPictureChangesNothing) {
    EXPECT_FALSE(tray.SetIconFromResource(4711));
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
    EXPECT_TRUE(tray.SetIconFromResource(kPictureTrayFrame0));
    EXPECT_EQ(tray.ShownIconId(), kPictureTrayFrame0);
}

TEST(SystemTray, WithoutFramesThereIsNoAnimation) {
    CSystemTray tray;
    ASSERT_TRUE(tray.Create(nullptr, kPictureAppIcon));
    EXPECT_FALSE(tray.BeginAnimation());
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_FALSE(tray.EndAnimation());
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
}

TEST_F(TrayFixture, AnimationStepsThroughTheFramesAndRestoresTheIcon) {
    ASSERT_TRUE(tray.BeginAnimation());
    EXPECT_TRUE(tray.IsAnimating());
    // Nothing changes at the start; the first tick shows the second frame.
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
    std::vector<int> seen;
    QObject watcher;
    const bool reached = QTest::qWaitFor(
        [&] {
            if (seen.empty() || seen.back() != tray.ShownIconId()) {
                if (tray.ShownIconId() != kPictureAppIcon) {
                    seen.push_back(tray.ShownIconId());
                }
            }
            return seen.size() >= 6;
        },
        5000);
    ASSERT_TRUE(reached);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], FrameAfter(static_cast<int>(i) + 1)) << i;
    }
    EXPECT_TRUE(tray.EndAnimation());
    EXPECT_FALSE(tray.IsAnimating());
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
    EXPECT_FALSE(tray.EndAnimation());
}

TEST_F(TrayFixture, ARunShorterThanOneFrameShowsNoFrame) {
    ASSERT_TRUE(tray.BeginAnimation());
    QTest::qWait(20);
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
    EXPECT_TRUE(tray.EndAnimation());
    EXPECT_TRUE(tray.SetIconFromResource(kPictureAppIcon));
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
}

TEST_F(TrayFixture, BeginningAgainRestoresThenSavesTheIconAndStartsFromTheFirstFrame) {
    ASSERT_TRUE(tray.BeginAnimation());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.ShownIconId() == FrameAfter(2); }, 3000));
    ASSERT_TRUE(tray.BeginAnimation());
    // The first animation's saved icon is back and saved again.
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.ShownIconId() != kPictureAppIcon; }, 3000));
    EXPECT_EQ(tray.ShownIconId(), FrameAfter(1));
    tray.EndAnimation();
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
}

TEST_F(TrayFixture, AnIconSetDuringTheAnimationGivesWayToTheSavedOneAtTheEnd) {
    ASSERT_TRUE(tray.BeginAnimation());
    EXPECT_TRUE(tray.SetIconFromResource(kPictureMenuHelp));
    EXPECT_EQ(tray.ShownIconId(), kPictureMenuHelp);
    tray.EndAnimation();
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
}

TEST_F(TrayFixture, RequestsFromACombThreadRunOnTheTraysThread) {
    std::thread comb([&] {
        EXPECT_TRUE(tray.RequestBeginAnimation());
        // Queued: the comb thread never touches the icon itself.
        EXPECT_FALSE(tray.IsAnimating());
    });
    comb.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.IsAnimating(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.ShownIconId() != kPictureAppIcon; }, 2000));

    std::thread end([&] {
        tray.RequestEndAnimation();
        tray.RequestIcon(kPictureAppIcon);
    });
    end.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tray.IsAnimating(); }, 2000));
    EXPECT_EQ(tray.ShownIconId(), kPictureAppIcon);
}

TEST_F(TrayFixture, LeftPressAsksForTheMainWindowRightClickOpensTheMenu) {
    QSignalSpy show(&tray, &CSystemTray::showMainWindowRequested);
    emit tray.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(show.count(), 1);
    emit tray.TrayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(show.count(), 1);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    QSignalSpy exit(&tray, &CSystemTray::exitRequested);
    QSignalSpy command(&tray, &CSystemTray::trayCommand);
    emit tray.TrayIcon()->activated(QSystemTrayIcon::Context);
    auto* menu = qobject_cast<CPictureMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QPointer<CPictureMenu> alive(menu);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    const QList<QAction*> commands = menu->Commands();
    ASSERT_EQ(commands.size(), 7);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(commands.back()).center());
    ASSERT_EQ(exit.count(), 1);
    ASSERT_EQ(command.count(), 1);
    EXPECT_EQ(command.front().front().toInt(), CSystemTray::kCommandExit);
    EXPECT_EQ(show.count(), 1);
    // The menu is built anew for each right click and goes away after use.
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 2000));
}

TEST_F(TrayFixture, TrayMenuHasTheTitleSevenCommandsAndThreeSeparators) {
    std::unique_ptr<CPictureMenu> menu(tray.BuildTrayMenu());
    EXPECT_EQ(menu->TitleLine(), QStringLiteral("Harvix v 1.1"));
    const int expectedIds[] = {4104, 4098, -2, 4100, 4101, -2, 4103, 4099, -2, 4097};
    const int expectedPictures[] = {136, 134, 0, 190, 191, 0, 192, 133, 0, 132};
    QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 11);  // the title line, then the ten of the table
    items.removeFirst();
    int separators = 0;
    for (int i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        if (expectedIds[i] == -2) {
            EXPECT_TRUE(items[i]->isSeparator());
            ++separators;
            continue;
        }
        EXPECT_EQ(CPictureMenu::CommandId(items[i]), expectedIds[i]);
        EXPECT_EQ(items[i]->icon().pixmap(16, 16).toImage(),
                  PictureIcon(expectedPictures[i]).pixmap(16, 16).toImage());
        EXPECT_EQ(items[i]->font().bold(), i == 0);
    }
    EXPECT_EQ(separators, 3);
    EXPECT_EQ(menu->defaultAction(), items[0]);
    const QStringList texts = {items[0]->text(), items[1]->text(), items[3]->text(),
                               items[4]->text(), items[6]->text(), items[7]->text(),
                               items[9]->text()};
    EXPECT_EQ(texts, (QStringList{"Filters", "Options", "Visit Our Site",
                                  "Download the Last Version", "Help", "About", "Exit"}));
}

TEST_F(TrayFixture, EveryMenuCommandReachesItsSignal) {
    std::unique_ptr<CPictureMenu> menu(tray.BuildTrayMenu());
    QSignalSpy filters(&tray, &CSystemTray::filtersRequested);
    QSignalSpy options(&tray, &CSystemTray::optionsRequested);
    QSignalSpy visit(&tray, &CSystemTray::visitSiteRequested);
    QSignalSpy lastVersion(&tray, &CSystemTray::lastVersionRequested);
    QSignalSpy help(&tray, &CSystemTray::helpRequested);
    QSignalSpy about(&tray, &CSystemTray::aboutRequested);
    QSignalSpy exit(&tray, &CSystemTray::exitRequested);
    for (QAction* action : menu->Commands()) {
        action->trigger();
    }
    for (QSignalSpy* spy : {&filters, &options, &visit, &lastVersion, &help, &about, &exit}) {
        EXPECT_EQ(spy->count(), 1);
    }
}

TEST_F(TrayFixture, MenuTextsFollowTheLanguage) {
    ScopedLanguage keep;
    TheLanguage().TrayMenuFilters = "Filter";
    TheLanguage().TrayMenuExit = "Beenden";
    std::unique_ptr<CPictureMenu> menu(tray.BuildTrayMenu());
    const QList<QAction*> commands = menu->Commands();
    EXPECT_EQ(commands.front()->text(), QStringLiteral("Filter"));
    EXPECT_EQ(commands.back()->text(), QStringLiteral("Beenden"));
}
