// The progress window: look, opacity, placement, keys, the browser's count
// and Cancel, and positions sent from a comb thread.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "GuiTestSupport.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "ui/ProgramState.h"
#include "ui/ProgressWindow.h"

using namespace harvix;

namespace {

QRect WorkArea() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// Runs `work` on another thread while this one keeps the event loop going.
void RunOnWorker(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i) {
        QTest::qWait(10);
    }
    worker.join();
}

}  // namespace

TEST(ProgressWindow, IsABorderlessTopMostToolWindowWithAnEmptyBar) {
    Settings settings;
    ProgressWindow window(settings);
    window.applyTransparency();
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);  // no task-bar entry
    EXPECT_EQ(window.parentWidget(), nullptr);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.progressBar->minimum(), 0);
    EXPECT_EQ(window.progressBar->maximum(), 100);
    EXPECT_EQ(window.position(), 0);
    window.show();
    EXPECT_TRUE(window.rect().contains(window.progressBar->geometry()));
    EXPECT_GT(window.width(), 2 * window.height());
    // At the default opacity it takes clicks, for its Cancel button.
    EXPECT_TRUE(window.takesInput());
    EXPECT_TRUE(window.cancelButton->isVisible());

    // A faint or invisible strip on top must not swallow clicks for the
    // whole run: the window system passes them to the window below (the
    // end-to-end test clicks through it on a real X server).
    for (const int32_t faint : {0, ProgressWindow::kInputOpacity - 1}) {
        settings.NotifyProgressTransparency = faint;
        ProgressWindow through(settings);
        through.applyTransparency();
        through.show();
        EXPECT_FALSE(through.takesInput()) << faint;
        EXPECT_TRUE(through.windowFlags().testFlag(Qt::WindowTransparentForInput));
        EXPECT_FALSE(through.cancelButton->isVisible());
    }
}

TEST(ProgressWindow, NamesTheBrowserCountsAndCancels) {
    Settings settings;
    ProgressWindow window(settings);
    window.applyTransparency();
    LanguageTexts texts;
    texts.ProgressCount = "%1 \u2014 %2 / %3";
    texts.Cancel = "Stop";
    window.applyTexts(texts);
    EXPECT_EQ(window.cancelButton->text(), QStringLiteral("Stop"));
    texts = LanguageTexts{};
    window.applyTexts(texts);
    window.show();
    QSignalSpy cancels(&window, &ProgressWindow::cancelRequested);

    window.beginRun(QStringLiteral("Chromium"));
    EXPECT_EQ(window.text(), QStringLiteral("Chromium"));
    window.setCount(120, 964);
    EXPECT_EQ(window.text(), QStringLiteral("Chromium: 120 of 964"));
    QTest::mouseClick(window.cancelButton, Qt::LeftButton);
    EXPECT_EQ(cancels.count(), 1);
    EXPECT_FALSE(window.cancelButton->isEnabled());
    EXPECT_EQ(window.text(), QString::fromStdString(texts.ProgressCancelling));
    window.setCount(121, 964);  // the run ends at its next entry
    EXPECT_EQ(window.text(), QString::fromStdString(texts.ProgressCancelling));
    // Enter never presses Cancel.
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_EQ(cancels.count(), 1);

    window.beginRun(QStringLiteral("Mozilla Firefox"));
    EXPECT_TRUE(window.cancelButton->isEnabled());
    EXPECT_EQ(window.position(), 0);
    window.setCount(1, 1);
    EXPECT_EQ(window.text(), QStringLiteral("Mozilla Firefox: 1 of 1"));
}

TEST(ProgressWindow, OpacityFollowsTheStoredTransparency) {
    const struct {
        int32_t stored;
        double opacity;
    } cases[] = {{100, 100 / 255.0}, {255, 1.0}, {0, 0.0}, {356, 100 / 255.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Settings settings;
        settings.NotifyProgressTransparency = c.stored;
        ProgressWindow window(settings);
        window.applyTransparency();
        EXPECT_NEAR(window.windowOpacity(), c.opacity, 0.005);
        // Read once: a later change of the setting leaves the window as it is.
        settings.NotifyProgressTransparency = 255;
        window.show();
        EXPECT_NEAR(window.windowOpacity(), c.opacity, 0.005);
    }
}

TEST(ProgressWindow, CentredOrInTheBottomRightCornerOfTheWorkArea) {
    Settings settings;
    settings.NotifyProgressBarOnCenter = true;
    ProgressWindow centred(settings);
    centred.show();
    EXPECT_LE((centred.geometry().center() - WorkArea().center()).manhattanLength(), 2);

    settings.NotifyProgressBarOnCenter = false;
    ProgressWindow corner(settings);
    corner.show();
    EXPECT_EQ(corner.geometry().right(), WorkArea().right());
    EXPECT_EQ(corner.geometry().bottom(), WorkArea().bottom());
    // Moved away, it goes back to the corner at the next show.
    corner.hide();
    corner.move(10, 10);
    corner.show();
    EXPECT_EQ(corner.geometry().bottomRight(), WorkArea().bottomRight());
}

TEST(ProgressWindow, EnterAndEscapeDoNotCloseIt) {
    Settings settings;
    ProgressWindow window(settings);
    window.show();
    window.activateWindow();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(&window, key);
        QTest::keyClick(window.progressBar, key);
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_EQ(window.result(), 0);
}

TEST(ProgressWindow, PositionsFromACombThreadAreTakenBeforeTheCallReturns) {
    Settings settings;
    ProgressWindow window(settings);
    int seenByWorker = -1;
    RunOnWorker([&] {
        window.setPosition(42);
        // The blocking hand-over means the value is in the bar already.
        seenByWorker = window.progressBar->value();
    });
    EXPECT_EQ(seenByWorker, 42);
    EXPECT_EQ(window.position(), 42);

    // Out-of-range percentages are held to the bar's range.
    window.setPosition(250);
    EXPECT_EQ(window.position(), 100);
    window.setPosition(-5);
    EXPECT_EQ(window.position(), 0);
}

TEST(ProgressWindow, ShowAndHideRequestedFromAnotherThread) {
    Settings settings;
    ProgressWindow window(settings);
    RunOnWorker([&] {
        window.setPosition(0);
        window.showWindow(true);
        window.setPosition(30);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 2000));
    EXPECT_EQ(window.position(), 30);
    RunOnWorker([&] { window.showWindow(false); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 2000));
}
