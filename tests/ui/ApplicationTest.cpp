// Start-up and single instance: the close request, the single-instance
// test, the hidden start, the termination signals and the settings saved
// at exit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <csignal>

#include "GuiTestSupport.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/Profile.h"
#include "platform/Path.h"
#include "support/TestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"
#include "ui/ProgramState.h"
#include "ui/QtNotifier.h"
#include "ui/RecordingNotifier.h"
#include "ui/TrayIcon.h"

using namespace harvix;

namespace {

using Args = std::vector<std::string>;

TEST(ApplicationArgumentsTest, OnlyTheFirstPlainArgumentSpelledCloseIsACloseRequest) {
    EXPECT_TRUE(Application::isCloseRequest(Args{"Close"}));
    EXPECT_TRUE(Application::isCloseRequest(Args{"-v", "/x", "Close", "more"}));
    EXPECT_FALSE(Application::isCloseRequest(Args{"close"}));
    EXPECT_FALSE(Application::isCloseRequest(Args{"CLOSE"}));
    EXPECT_FALSE(Application::isCloseRequest(Args{"other", "Close"}));
    EXPECT_FALSE(Application::isCloseRequest(Args{"--Close"}));
    EXPECT_FALSE(Application::isCloseRequest(Args{}));
    EXPECT_EQ(Application::firstPlainArgument(Args{"", "-a", "/b", "c"}), "c");
    // Help and version answer without starting; other words start it.
    // The version the about box and the tray menu show.
    const std::string version = Application::informationText(Args{"--version"});
    ASSERT_EQ(version.rfind("harvix ", 0), 0u) << version;
    EXPECT_EQ("Harvix v " + version.substr(7), AboutDialog::productLine().toStdString() + "\n");
    EXPECT_EQ(Application::informationText(Args{"-V"}),
              Application::informationText(Args{"--version"}));
    EXPECT_EQ(Application::informationText(Args{"x", "--help"}).rfind("Usage: harvix [Close]\n", 0),
              0u);
    EXPECT_EQ(Application::informationText(Args{"Close"}), "");
    EXPECT_EQ(Application::informationText(Args{"--helpful"}), "");
}

// A Application over an argument list.
class AppWithArgs {
public:
    explicit AppWithArgs(Args args) : args_(std::move(args)) {
        argv_.push_back(program_.data());
        for (std::string& arg : args_) {
            argv_.push_back(arg.data());
        }
        argv_.push_back(nullptr);
        argc_ = static_cast<int>(argv_.size()) - 1;
        app = std::make_unique<Application>(argc_, argv_.data());
    }
    std::unique_ptr<Application> app;

private:
    std::string program_ = "harvix";
    Args args_;
    std::vector<char*> argv_;
    int argc_ = 0;
};

class ApplicationTest : public ::testing::Test {
protected:
    ApplicationTest() : scoped_(fake_) {
        TrayIcon::setAvailabilityProbe([] { return true; });
        theSettings() = Settings{};
        theLanguage() = LanguageTexts{};
        fake_.exePath = dir_ / "prog" / "harvix";
        fake_.processes = {
            {1, "harvix"}, {7, "bash"}, {8, "harvix-cli"}, {9, "HarviX"}, {10, "harvix"}};
        writeFile(dir_ / "prog" / "Harvix.cfg",
                  "[GENERAL]\nMozilla=0\nIE=0\nMaxthon=0\nStartWithWindowsStartUp=0\n");
    }
    ~ApplicationTest() override {
        TrayIcon::setAvailabilityProbe(nullptr);
        theSettings() = Settings{};
        theLanguage() = LanguageTexts{};
    }
    bool Check(Args args) { return AppWithArgs(std::move(args)).app->checkSingleInstance(); }

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
    ScopedRecordingNotifier messages_;
};

TEST_F(ApplicationTest, TheFirstCopyStartsAndCloseWithoutACopyEnds) {
    EXPECT_FALSE(Check({}));
    EXPECT_FALSE(Check({"close"}));  // not a close request: a normal start
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_TRUE(fake_.terminated.empty());
}

TEST_F(ApplicationTest, ASecondCopyEndsAndOnlyCloseEndsTheRunningOne) {
    fake_.singleInstanceFree = false;
    EXPECT_TRUE(Check({}));
    EXPECT_TRUE(Check({"close"}));
    EXPECT_TRUE(fake_.terminated.empty());
    // The first other process named harvix in any letter case; this process
    // (id 1) and other names are passed over, and only one is asked.
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_EQ(fake_.terminated, std::vector<int64_t>{9});
    // Another user's copy with a lower process id is passed over: the
    // caller's own copy is the one asked.
    fake_.terminated.clear();
    fake_.userId = 1000;
    fake_.processes = {{1, "harvix", 1000}, {4, "harvix", 1001}, {12, "harvix", 1000}};
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_EQ(fake_.terminated, std::vector<int64_t>{12});
}

TEST_F(ApplicationTest, ACopyUnderAnotherNameIsNotFound) {
    fake_.singleInstanceFree = false;
    fake_.processes = {{1, "harvix"}, {5, "harvix-old"}};
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_TRUE(fake_.terminated.empty());
}

TEST_F(ApplicationTest, InitInstanceEndsAtOnceWhenAnotherCopyRuns) {
    fake_.singleInstanceFree = false;
    AppWithArgs holder({});
    EXPECT_FALSE(holder.app->initInstance());
    EXPECT_EQ(holder.app->mainWindow(), nullptr);
}

TEST_F(ApplicationTest, StartsHiddenAndSavesTheSettingsAtExit) {
    writeFile(dir_ / "prog" / "Filters" / "Default.flt", "[GENERAL]\nHarvixFilter=1\n");
    AppWithArgs holder({});
    Application& app = *holder.app;
    ASSERT_TRUE(app.initInstance());
    MainWindow* window = app.mainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->isInitialised());
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    // The core's messages go to message boxes now.
    EXPECT_NE(dynamic_cast<QtNotifier*>(&notifier()), nullptr);
    // The default filter file, as no other was remembered.
    EXPECT_FALSE(window->isUntitled());
    EXPECT_EQ(theSettings().FiltersFileName, pathToUtf8(dir_ / "prog" / "Filters" / "Default.flt"));

    theSettings().DefaultFileNameDummy = "changed";
    EXPECT_EQ(app.exitInstance(3), 3);
    EXPECT_EQ(app.mainWindow(), nullptr);
    EXPECT_EQ(
        ProfileFile::load(dir_ / "prog" / "Harvix.cfg").get("GENERAL", "DefaultFileNameDummy"),
        "changed");
    EXPECT_EQ(dynamic_cast<QtNotifier*>(&notifier()), nullptr);
}

TEST_F(ApplicationTest, SigtermRunsExit) {
    writeFile(dir_ / "prog" / "Filters" / "Default.flt", "[GENERAL]\nHarvixFilter=1\n");
    AppWithArgs holder({});
    Application& app = *holder.app;
    ASSERT_TRUE(app.initInstance());
    QSignalSpy exits(app.mainWindow(), &MainWindow::exitRequested);
    std::raise(SIGTERM);
    for (int i = 0; i < 50 && exits.count() == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(exits.count(), 1);
    EXPECT_TRUE(app.mainWindow()->isExiting());
    app.exitInstance();
}

TEST_F(ApplicationTest, SigtermWhileTheWindowIsMadeStillEndsThroughExit) {
    // No filter file at all: making the window asks the user to confirm a
    // message, and the close request arrives just then.
    AppWithArgs holder({});
    Application& app = *holder.app;
    bool raised = false;
    const Watch answer = WhenShown<QMessageBox>([&](QMessageBox* box) {
        std::raise(SIGTERM);
        raised = true;
        box->accept();
    });
    ASSERT_TRUE(app.initInstance());
    ASSERT_TRUE(raised);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_NE(app.mainWindow(), nullptr);
    EXPECT_TRUE(app.mainWindow()->isExiting());
    theSettings().DefaultFileNameDummy = "kept";
    app.exitInstance();
    EXPECT_EQ(
        ProfileFile::load(dir_ / "prog" / "Harvix.cfg").get("GENERAL", "DefaultFileNameDummy"),
        "kept");
}

TEST(TerminationWatcherTest, EverySignalOfABurstEndsInOneCall) {
    int calls = 0;
    {
        TerminationWatcher watcher([&] { ++calls; });
        ASSERT_TRUE(watcher.isActive());
        std::raise(SIGINT);
        std::raise(SIGHUP);
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
    EXPECT_EQ(calls, 1);
    // The default action is back once the watcher is gone.
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace
