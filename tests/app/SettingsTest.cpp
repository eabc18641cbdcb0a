#include <gtest/gtest.h>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/Profile.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() : scoped_(fake_) {
        fake_.exePath = dir_ / "prog" / "harvix";
        fs::create_directories(dir_ / "prog");
    }
    fs::path Cfg() const { return dir_ / "prog" / "Harvix.cfg"; }

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
    LanguageTexts texts;  // the front end's, filled by the start-up
};

TEST_F(SettingsTest, FirstStartWritesEveryKeyInOrder) {
    Settings s;
    s.initSettings(texts);
    // No browser of the later rows here: their defaults (off) are not stored.
    std::string laterKeys;
    for (const BrowserRow& row : browserTable()) {
        if (!row.watchKeyFirst && row.watchDefault != WatchDefault::WhenPresent) {
            laterKeys +=
                row.watchSettingsKey + (row.watchDefault == WatchDefault::On ? "=1\n" : "=0\n");
        }
    }
    const std::string expected =
        "[GENERAL]\nMozilla=1\nMozillaCachePath=\nIE=1\nMaxthon=1\n"
        "DefaultCombPath=~/HX_FILES\nDefaultFileNameDummy=file\n"
        "FiltersFileName=\nShowNotifyProgressBar=1\n"
        "NotifyProgressBarOnCenter=1\nNotifyProgressTransparency=100\n"
        "OneCopy=1\nSkipDuplicates=1\nStartWithWindowsStartUp=1\n"
        "Language=" +
        (dir_ / "prog" / "Langs" / "English.lng").string() + "\nCacheWindowColumns=\n" + laterKeys;
    EXPECT_EQ(readFile(Cfg()), expected);
    EXPECT_TRUE(s.watches(*browserByWord("mozilla")));
    EXPECT_FALSE(s.watches(*browserByWord("chrome")));
    EXPECT_EQ(s.exeDir, dir_ / "prog");
    EXPECT_EQ(s.defaultFilterPath, dir_ / "prog" / "Filters" / "Default.flt");
    EXPECT_EQ(s.langsDir, dir_ / "prog" / "Langs");
}

TEST_F(SettingsTest, ALaterBrowserIsWatchedWhereItIsInstalledOrUsedUnlessTheFileSaysNo) {
    fake_.home = dir_ / "home";
    fake_.localAppData = dir_ / "home" / ".cache";
    writeFile(Cfg(), "[GENERAL]\nUseVivaldi=0\nIE=0\n");
    const auto start = [&] {
        Settings started;
        started.initSettings(texts);
        return started;
    };
    const auto stored = [&](const char* key) {
        return ProfileFile::load(Cfg()).get("GENERAL", key, "none");
    };
    // A start before any of them is here leaves them off, and says nothing
    // in the file that would keep them off once they come (an off that
    // equals the default then, as earlier versions wrote it, goes too).
    EXPECT_FALSE(start().watches(*browserByWord("chromium")));
    EXPECT_EQ(stored("UseChromium"), "none");
    EXPECT_EQ(stored("UseVivaldi"), "none");
    EXPECT_EQ(stored("IE"), "0");

    // Then Chromium installed, Brave's cache present (its Flatpak install),
    // Vivaldi installed but switched off by the user, Edge nowhere.
    fake_.installed = {"chromium", "vivaldi"};
    fs::create_directories(fake_.home / ".var" / "app" / "com.brave.Browser" / "cache" /
                           "BraveSoftware" / "Brave-Browser");
    writeProfileString(Cfg(), "GENERAL", "UseVivaldi", "0");
    Settings s = start();
    EXPECT_TRUE(s.watches(*browserByWord("chromium")));
    EXPECT_TRUE(s.watches(*browserByWord("brave")));
    EXPECT_FALSE(s.watches(*browserByWord("vivaldi")));
    EXPECT_FALSE(s.watches(*browserByWord("edge")));
    EXPECT_FALSE(s.watches(*browserByWord("ie")));
    EXPECT_TRUE(s.watches(*browserByWord("maxthon")));
    EXPECT_EQ(stored("UseChromium"), "none");
    EXPECT_EQ(stored("UseVivaldi"), "0");
    std::vector<std::string> watched;
    for (const BrowserRow* row : s.watchedRows()) {
        watched.push_back(row->id);
    }
    EXPECT_EQ(watched, (std::vector<std::string>{"mozilla", "maxthon", "chromium", "brave"}));

    // The user unticks the installed Chromium: stored, and it wins at the
    // next start; ticked again, the default of the machine stands again.
    s.setWatches(*browserByWord("chromium"), false);
    s.saveSettings();
    EXPECT_EQ(stored("UseChromium"), "0");
    Settings again = start();
    EXPECT_FALSE(again.watches(*browserByWord("chromium")));
    again.setWatches(*browserByWord("chromium"), true);
    again.saveSettings();
    EXPECT_EQ(stored("UseChromium"), "none");
}

TEST_F(SettingsTest, APartlyFilledFileKeepsTheOtherDefaultsAndIsCompleted) {
    writeFile(Cfg(), "[GENERAL]\nOneCopy=0\n");
    Settings s;
    s.initSettings(texts);
    EXPECT_FALSE(s.OneCopy);
    EXPECT_TRUE(s.SkipDuplicates);
    EXPECT_EQ(s.DefaultFileNameDummy, "file");
    const ProfileFile f = ProfileFile::load(Cfg());
    EXPECT_EQ(f.get("GENERAL", "OneCopy"), "0");
    EXPECT_EQ(f.get("GENERAL", "NotifyProgressTransparency"), "100");
    EXPECT_EQ(f.get("GENERAL", "Language", "missing"), (s.langsDir / "English.lng").string());
}

TEST_F(SettingsTest, EmptyValuesKeepDefaultsAndNumbersReadLikeIntegers) {
    writeFile(Cfg(),
              "[GENERAL]\nDefaultCombPath=\nMozilla=yes\nIE=2\nMaxthon= -1 \n"
              "NotifyProgressTransparency=300abc\nShowNotifyProgressBar=0x1\n"
              "MozillaCachePath= /home/u/cache \nLanguage=/elsewhere/German.lng\n");
    Settings s;
    s.computePaths();
    s.loadSettings();
    EXPECT_EQ(s.DefaultCombPath, "~/HX_FILES");
    EXPECT_FALSE(s.watches(*browserByWord("mozilla")));  // "yes" has no digits
    EXPECT_TRUE(s.watches(*browserByWord("ie")));
    EXPECT_TRUE(s.watches(*browserByWord("maxthon")));
    EXPECT_EQ(s.NotifyProgressTransparency, 300);
    EXPECT_EQ(s.progressOpacity(), 44);
    EXPECT_FALSE(s.ShowNotifyProgressBar);  // leading 0, then stops at 'x'
    EXPECT_EQ(s.MozillaCachePath, "/home/u/cache");
    EXPECT_EQ(s.Language, "/elsewhere/German.lng");
}

TEST_F(SettingsTest, AutostartFollowsTheSetting) {
    writeFile(Cfg(), "[GENERAL]\nStartWithWindowsStartUp=0\n");
    Settings s;
    s.initSettings(texts);
    ASSERT_FALSE(fake_.autostartCalls.empty());
    for (const auto& [enable, exe] : fake_.autostartCalls) {
        EXPECT_FALSE(enable);
    }
    fake_.autostartCalls.clear();
    s.StartWithWindowsStartUp = true;
    s.saveSettings();
    ASSERT_EQ(fake_.autostartCalls.size(), 1u);
    EXPECT_TRUE(fake_.autostartCalls[0].first);
    EXPECT_EQ(fake_.autostartCalls[0].second, fake_.exePath);
}

TEST_F(SettingsTest, SavingKeepsForeignLinesAndAnUnwritableFolderIsSilent) {
    writeFile(Cfg(), "; my notes\n[GENERAL]\nOneCopy=0\n[Mine]\nx=1\n");
    Settings s;
    s.initSettings(texts);
    const std::string text = readFile(Cfg());
    EXPECT_EQ(text.rfind("; my notes\n[GENERAL]\nOneCopy=0\n", 0), 0u);
    EXPECT_NE(text.find("[Mine]\nx=1\n"), std::string::npos);

    Settings elsewhere;
    fake_.settingsDir = dir_ / "no" / "such" / "folder";
    elsewhere.computePaths();
    EXPECT_TRUE(elsewhere.saveSettings());
    EXPECT_FALSE(fs::exists(elsewhere.cfgPath));
}

TEST_F(SettingsTest, StartUpLoadsTheLanguageFile) {
    writeFile(dir_ / "prog" / "Langs" / "English.lng", "[GENERAL]\nTrayMenuExit=Quit\n");
    Settings s;
    s.initSettings(texts);
    EXPECT_EQ(texts.TrayMenuExit, "Quit");
}

}  // namespace

}  // namespace harvix
