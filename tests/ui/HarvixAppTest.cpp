// Start-up and single instance: the close request, the single-instance
// test, the hidden start, the termination signals and the settings saved
// at exit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <csignal>

#include "app/HarvixApp.h"
#include "app/LanguageTexts.h"
#include "app/Profile.h"
#include "app/Settings.h"
#include "platform/Text.h"
#include "support/TestSupport.h"
#include "ui/HarvixDlg.h"
#include "ui/QtNotifier.h"

namespace {

using Args = std::vector<std::string>;

TEST(HarvixAppArgumentsTest, OnlyTheFirstPlainArgumentSpelledCloseIsACloseRequest) {
    EXPECT_TRUE(CHarvixApp::IsCloseRequest(Args{"Close"}));
    EXPECT_TRUE(CHarvixApp::IsCloseRequest(Args{"-v", "/x", "Close", "more"}));
    EXPECT_FALSE(CHarvixApp::IsCloseRequest(Args{"close"}));
    EXPECT_FALSE(CHarvixApp::IsCloseRequest(Args{"CLOSE"}));
    EXPECT_FALSE(CHarvixApp::IsCloseRequest(Args{"other", "Close"}));
    EXPECT_FALSE(CHarvixApp::IsCloseRequest(Args{"--Close"}));
    EXPECT_FALSE(CHarvixApp::IsCloseRequest(Args{}));
    EXPECT_EQ(CHarvixApp::FirstPlainArgument(Args{"", "-a", "/b", "c"}), "c");
}

// A CHarvixApp over an argument list.
class AppWithArgs {
public:
    explicit AppWithArgs(Args args) : args_(std::move(args)) {
        argv_.push_back(program_.data());
        for (std::string& arg : args_) {
            argv_.push_back(arg.data());
        }
        argv_.push_back(nullptr);
        argc_ = static_cast<int>(argv_.size()) - 1;
        app = std::make_unique<CHarvixApp>(argc_, argv_.data());
    }
    std::unique_ptr<CHarvixApp> app;

private:
    std::string program_ = "harvix";
    Args args_;
    std::vector<char*> argv_;
    int argc_ = 0;
};

class HarvixAppTest : public ::testing::Test {
protected:
    HarvixAppTest() : scoped_(fake_) {
        TheSettings() = Settings{};
        TheLanguage() = LanguageTexts{};
        fake_.exePath = dir_ / "prog" / "harvix";
        fake_.processes = {
            {1, "harvix"}, {7, "bash"}, {8, "harvix-cli"}, {9, "HarviX"}, {10, "harvix"}};
        WriteFile(dir_ / "prog" / "Harvix.cfg",
                  "[GENERAL]\nMozilla=0\nIE=0\nMaxthon=0\nStartWithWindowsStartUp=0\n");
    }
    ~HarvixAppTest() override {
        TheSettings() = Settings{};
        TheLanguage() = LanguageTexts{};
    }
    bool Check(Args args) { return AppWithArgs(std::move(args)).app->CheckSingleInstance(); }

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
    ScopedRecordingNotifier messages_;
};

TEST_F(HarvixAppTest, TheFirstCopyStartsAndCloseWithoutACopyEnds) {
    EXPECT_FALSE(Check({}));
    EXPECT_FALSE(Check({"close"}));  // not a close request: a normal start
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_TRUE(fake_.terminated.empty());
}

TEST_F(HarvixAppTest, ASecondCopyEndsAndOnlyCloseEndsTheRunningOne) {
    fake_.singleInstanceFree = false;
    EXPECT_TRUE(Check({}));
    EXPECT_TRUE(Check({"close"}));
    EXPECT_TRUE(fake_.terminated.empty());
    // The first other process named harvix in any letter case; this process
    // (id 1) and other names are passed over, and only one is asked.
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_EQ(fake_.terminated, std::vector<int64_t>{9});
}

TEST_F(HarvixAppTest, ACopyUnderAnotherNameIsNotFound) {
    fake_.singleInstanceFree = false;
    fake_.processes = {{1, "harvix"}, {5, "harvix-old"}};
    EXPECT_TRUE(Check({"Close"}));
    EXPECT_TRUE(fake_.terminated.empty());
}

TEST_F(HarvixAppTest, InitInstanceEndsAtOnceWhenAnotherCopyRuns) {
    fake_.singleInstanceFree = false;
    AppWithArgs holder({});
    EXPECT_FALSE(holder.app->InitInstance());
    EXPECT_EQ(holder.app->MainWindow(), nullptr);
}

TEST_F(HarvixAppTest, StartsHiddenAndSavesTheSettingsAtExit) {
    WriteFile(dir_ / "prog" / "Filters" / "Default.flt", "[GENERAL]\nHarvixFilter=1\n");
    AppWithArgs holder({});
    CHarvixApp& app = *holder.app;
    ASSERT_TRUE(app.InitInstance());
    CHarvixDlg* window = app.MainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->IsInitialised());
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    // The core's messages go to message boxes now.
    EXPECT_NE(dynamic_cast<CQtNotifier*>(&Notifier()), nullptr);
    // The default filter file, as no other was remembered.
    EXPECT_FALSE(window->IsUntitled());
    EXPECT_EQ(TheSettings().FiltersFileName, PathToUtf8(dir_ / "prog" / "Filters" / "Default.flt"));

    TheSettings().DefaultFileNameDummy = "changed";
    EXPECT_EQ(app.ExitInstance(3), 3);
    EXPECT_EQ(app.MainWindow(), nullptr);
    EXPECT_EQ(
        ProfileFile::Load(dir_ / "prog" / "Harvix.cfg").Get("GENERAL", "DefaultFileNameDummy"),
        "changed");
    EXPECT_EQ(dynamic_cast<CQtNotifier*>(&Notifier()), nullptr);
}

TEST_F(HarvixAppTest, SigtermRunsExit) {
    WriteFile(dir_ / "prog" / "Filters" / "Default.flt", "[GENERAL]\nHarvixFilter=1\n");
    AppWithArgs holder({});
    CHarvixApp& app = *holder.app;
    ASSERT_TRUE(app.InitInstance());
    QSignalSpy exits(app.MainWindow(), &CHarvixDlg::exitRequested);
    std::raise(SIGTERM);
    for (int i = 0; i < 50 && exits.count() == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(exits.count(), 1);
    EXPECT_TRUE(app.MainWindow()->IsExiting());
    app.ExitInstance();
}

TEST(TerminationWatcherTest, EverySignalOfABurstEndsInOneCall) {
    int calls = 0;
    {
        CTerminationWatcher watcher([&] { ++calls; });
        ASSERT_TRUE(watcher.IsActive());
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
