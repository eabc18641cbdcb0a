// The options dialog, driven with the mouse and the keyboard: what it shows,
// what OK writes back (memory, settings file, autostart, language), Cancel,
// the language list, the Firefox controls, Find Cache, the folder chooser
// and the help key.
#include <gtest/gtest.h>

#include <map>

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "CacheWriter.h"
#include "Description.h"
#include "GuiTestSupport.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "platform/Path.h"
#include "support/TestSupport.h"
#include "ui/OptionsDialog.h"
#include "ui/ProgramState.h"
#include "ui/RecordingNotifier.h"

using namespace harvix;

namespace {

const fs::path kLangs = fs::path(HARVIX_SOURCE_DIR) / "resources" / "Langs";

class OptionsDialogTest : public ::testing::Test {
protected:
    OptionsDialogTest() : scopedPlatform(platform) {
        platform.home = temp.path() / "home";
        platform.localAppData = temp.path() / "home" / ".cache";
        fs::create_directories(platform.home);
        settings.langsDir = temp / "Langs";
        settings.cfgPath = temp / "Harvix.cfg";
        settings.exePath = temp / "harvix";
        settings.helpPath = temp / "help" / "index.html";
        fs::create_directories(settings.langsDir);
        for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
            fs::copy_file(kLangs / name, settings.langsDir / name);
        }
        settings.Language = Lang("English.lng");
    }

    std::string Lang(const std::string& file) const { return pathToUtf8(settings.langsDir / file); }

    static void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    // A click on the button's face; for a check box, on its box (a check box
    // reacts only to clicks on the box and its text, not on the empty rest
    // of its row).
    static void Click(QAbstractButton* button) {
        QPoint at = button->rect().center();
        if (qobject_cast<QCheckBox*>(button) != nullptr) {
            at = QPoint(button->height() / 2, button->height() / 2);
        }
        QTest::mouseClick(button, Qt::LeftButton, {}, at);
    }

    TempDir temp;
    FakePlatform platform;
    ScopedPlatform scopedPlatform;
    ScopedRecordingNotifier messages;
    Settings settings;
    LanguageTexts texts;
};

}  // namespace

TEST_F(OptionsDialogTest, ShowsTheSettingsAndTheLanguageTexts) {
    settings.StartWithWindowsStartUp = false;
    settings.ShowNotifyProgressBar = true;
    settings.setWatches(*browserByWord("ie"), false);
    settings.setWatches(*browserByWord("maxthon"), true);
    settings.setWatches(*browserByWord("mozilla"), true);
    settings.MozillaCachePath = "/home/tester/.cache/mozilla/firefox/x.default/Cache";
    settings.OneCopy = false;
    settings.SkipDuplicates = true;
    settings.DefaultCombPath = "~/HX_FILES/%DATE%";
    settings.DefaultFileNameDummy = "pic";
    // Every label comes from the language file (German here): a built-in
    // text, or another key's, would show instead.
    Settings german = settings;
    german.Language = Lang("German.lng");
    loadLanguage(texts, german);
    ASSERT_EQ(texts.Cancel, "Abbrechen");

    OptionsDialog dialog(settings, texts);
    const std::pair<QString, std::string> shown[] = {
        {dialog.windowTitle(), texts.OptTitle},
        {dialog.findCache->text(), texts.OptFindMozillaCache},
        {dialog.mainGroup->title(), texts.OptMain},
        {dialog.browsersGroup->title(), texts.OptBrowsers},
        {dialog.filtersGroup->title(), texts.OptFilters},
        {dialog.startWithWindowsStartUp->text(), texts.OptStartWithWindowsStartUp},
        {dialog.showProgressBar->text(), texts.ShowProgressBar},
        {dialog.languageLabel->text(), texts.OptLanguage},
        {dialog.cacheFolderLabel->text(), texts.OptMozillaCachePath},
        {dialog.oneCopy->text(), texts.OptOneCopy},
        {dialog.skipDuplicates->text(), texts.OptSkipDuplicates},
        {dialog.defaultFolderLabel->text(), texts.OptDefaultCombPath},
        {dialog.fileNameLabel->text(), texts.OptDefaultFileNameDummy},
        {dialog.okButton->text(), texts.OK},
        {dialog.cancelButton->text(), texts.Cancel},
    };
    for (const auto& [text, expected] : shown) {
        EXPECT_EQ(text.toStdString(), expected);
    }
    // Each browser's box names its own row.
    for (const auto& watch : dialog.watchBoxes) {
        EXPECT_EQ(watch.box->text().toStdString(), texts.byKey(watch.browser->watchTextKey))
            << watch.browser->id;
    }

    EXPECT_FALSE(dialog.startWithWindowsStartUp->isChecked());
    EXPECT_TRUE(dialog.showProgressBar->isChecked());
    EXPECT_FALSE(dialog.useWithIE->isChecked());
    EXPECT_TRUE(dialog.useWithMaxthon->isChecked());
    EXPECT_TRUE(dialog.useWithMozilla->isChecked());
    EXPECT_EQ(dialog.cacheFolderEdit->text(),
              QStringLiteral("/home/tester/.cache/mozilla/firefox/x.default/Cache"));
    EXPECT_FALSE(dialog.oneCopy->isChecked());
    EXPECT_TRUE(dialog.skipDuplicates->isChecked());
    EXPECT_EQ(dialog.defaultFolderEdit->text(), QStringLiteral("~/HX_FILES/%DATE%"));
    EXPECT_EQ(dialog.fileNameEdit->text(), QStringLiteral("pic"));

    ASSERT_EQ(dialog.languageList->count(), 3);
    EXPECT_EQ(dialog.languageList->itemText(0), QStringLiteral("English"));
    EXPECT_EQ(dialog.languageList->itemText(1), QStringLiteral("Deutsch"));
    EXPECT_EQ(dialog.languageList->currentIndex(), 0);
    ASSERT_EQ(dialog.languages.size(), 3u);
    EXPECT_EQ(dialog.languages[1].languagePath, Lang("German.lng"));
    EXPECT_EQ(dialog.languages[1].languageName, "Deutsch");
    EXPECT_TRUE(messages.notifier.messages.empty());
}

TEST_F(OptionsDialogTest, OkWritesEveryControlBackSwitchesTheLanguageAndSavesTheFile) {
    settings.StartWithWindowsStartUp = true;
    // Every browser's box is shown as its setting and written back flipped
    // (Firefox's cache folder typed first, while its box leaves it editable).
    std::map<std::string, bool> before;
    for (const BrowserRow& browser : browserTable()) {
        settings.setWatches(browser, browser.index % 2 == 0);
        before[browser.id] = settings.watches(browser);
    }
    OptionsDialog dialog(settings, texts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    Click(dialog.startWithWindowsStartUp);
    Click(dialog.showProgressBar);
    ASSERT_TRUE(dialog.cacheFolderEdit->isEnabled());
    Type(dialog.cacheFolderEdit, QStringLiteral("/data/ff cache"));
    for (const auto& watch : dialog.watchBoxes) {
        EXPECT_EQ(watch.box->isChecked(), before[watch.browser->id]) << watch.browser->id;
        Click(watch.box);
    }
    Click(dialog.oneCopy);
    Click(dialog.skipDuplicates);
    Type(dialog.defaultFolderEdit, QStringLiteral("/data/saved/%DATE%"));
    Type(dialog.fileNameEdit, QStringLiteral("grab"));
    dialog.languageList->setFocus();
    QTest::keyClick(dialog.languageList, Qt::Key_Down);  // English -> Deutsch
    ASSERT_EQ(dialog.languageList->currentText(), QStringLiteral("Deutsch"));
    Click(dialog.okButton);

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(settings.StartWithWindowsStartUp);
    EXPECT_FALSE(settings.ShowNotifyProgressBar);
    for (const BrowserRow& browser : browserTable()) {
        EXPECT_EQ(settings.watches(browser), !before[browser.id]) << browser.id;
    }
    EXPECT_EQ(settings.MozillaCachePath, "/data/ff cache");
    EXPECT_FALSE(settings.OneCopy);
    EXPECT_FALSE(settings.SkipDuplicates);
    EXPECT_EQ(settings.DefaultCombPath, "/data/saved/%DATE%");
    EXPECT_EQ(settings.DefaultFileNameDummy, "grab");
    EXPECT_EQ(settings.Language, Lang("German.lng"));
    EXPECT_EQ(texts.Cancel, "Abbrechen");
    EXPECT_EQ(texts.OptTitle, "Einstellungen");

    const std::string file = readFile(settings.cfgPath);
    EXPECT_NE(file.find("MozillaCachePath=/data/ff cache"), std::string::npos) << file;
    EXPECT_NE(file.find("StartWithWindowsStartUp=0"), std::string::npos) << file;
    EXPECT_NE(file.find("Language=" + Lang("German.lng")), std::string::npos) << file;
    ASSERT_FALSE(platform.autostartCalls.empty());
    EXPECT_FALSE(platform.autostartCalls.back().first);
}

TEST_F(OptionsDialogTest, CancelAndEscapeChangeNothing) {
    settings.OneCopy = true;
    settings.DefaultFileNameDummy = "file";
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape);
        const Settings before = settings;
        OptionsDialog dialog(settings, texts);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        Click(dialog.oneCopy);
        Type(dialog.fileNameEdit, QStringLiteral("changed"));
        QTest::keyClick(dialog.languageList, Qt::Key_Down);
        if (escape) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        } else {
            Click(dialog.cancelButton);
        }
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(settings.OneCopy, before.OneCopy);
        EXPECT_EQ(settings.DefaultFileNameDummy, before.DefaultFileNameDummy);
        EXPECT_EQ(settings.Language, before.Language);
        EXPECT_FALSE(fs::exists(settings.cfgPath));
        EXPECT_EQ(texts.Cancel, "Cancel");
    }
}

TEST_F(OptionsDialogTest, FirefoxControlsFollowTheFirefoxBox) {
    settings.setWatches(*browserByWord("mozilla"), false);
    OptionsDialog dialog(settings, texts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto firefoxControls = [&] {
        return std::vector<bool>{dialog.findCache->isEnabled(), dialog.cacheFolderEdit->isEnabled(),
                                 dialog.cacheFolderBrowse->isEnabled()};
    };
    EXPECT_EQ(firefoxControls(), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(dialog.cacheFolderLabel->isEnabled());
    Click(dialog.useWithMozilla);
    EXPECT_EQ(firefoxControls(), (std::vector<bool>{true, true, true}));
    Click(dialog.useWithMozilla);
    EXPECT_EQ(firefoxControls(), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(dialog.cacheFolderLabel->isEnabled());
    // The keyboard toggles it as well.
    dialog.useWithMozilla->setFocus();
    QTest::keyClick(dialog.useWithMozilla, Qt::Key_Space);
    EXPECT_EQ(firefoxControls(), (std::vector<bool>{true, true, true}));
}

TEST_F(OptionsDialogTest, UnknownLanguageSettingIsReplacedByTheFirstListedEvenOnCancel) {
    settings.Language = pathToUtf8(temp / "elsewhere" / "Klingon.lng");
    OptionsDialog dialog(settings, texts);
    EXPECT_EQ(dialog.languageList->currentIndex(), 0);
    EXPECT_EQ(settings.Language, Lang("English.lng"));
    dialog.reject();
    EXPECT_EQ(settings.Language, Lang("English.lng"));
}

TEST_F(OptionsDialogTest, SameLanguageNameTwiceIsChosenByPath) {
    writeFile(settings.langsDir / "German2.lng", "[GENERAL]\nLanguage=Deutsch\nCancel=Zurück\n");
    writeFile(settings.langsDir / "Nameless.lng", "[GENERAL]\nCancel=Nope\n");
    settings.Language = Lang("German2.lng");
    OptionsDialog dialog(settings, texts);
    ASSERT_EQ(dialog.languageList->count(), 5);
    // Sorted by file name: English, German, German2, Nameless, Russian.
    EXPECT_EQ(dialog.languageList->itemText(1), QStringLiteral("Deutsch"));
    EXPECT_EQ(dialog.languageList->itemText(2), QStringLiteral("Deutsch"));
    EXPECT_EQ(dialog.languageList->currentIndex(), 2);
    // A file without a language name keeps an empty name but is listed by file name.
    EXPECT_EQ(dialog.languages[3].languageName, "");
    EXPECT_EQ(dialog.languageList->itemText(3), QStringLiteral("Nameless"));
    dialog.show();
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    EXPECT_EQ(settings.Language, Lang("German2.lng"));
    EXPECT_EQ(texts.Cancel, "Zurück");
}

TEST_F(OptionsDialogTest, WithoutLanguageFilesOkLeavesTheLanguageAlone) {
    fs::remove_all(settings.langsDir);
    settings.Language = "/somewhere/English.lng";
    OptionsDialog dialog(settings, texts);
    EXPECT_EQ(dialog.languageList->count(), 0);
    EXPECT_EQ(dialog.languageList->currentIndex(), -1);
    dialog.show();
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    EXPECT_EQ(settings.Language, "/somewhere/English.lng");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(OptionsDialogTest, EmptyCacheFolderIsStoredEmpty) {
    settings.MozillaCachePath = "/old/cache";
    OptionsDialog dialog(settings, texts);
    dialog.show();
    Type(dialog.cacheFolderEdit, QString());
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    EXPECT_EQ(settings.MozillaCachePath, "");
}

TEST_F(OptionsDialogTest, FindCacheWithoutAProfileReportsAndEmptiesTheEdit) {
    settings.MozillaCachePath = "/old/cache";
    OptionsDialog dialog(settings, texts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Click(dialog.findCache);
    EXPECT_EQ(dialog.cacheFolderEdit->text(), QString());
    ASSERT_EQ(messages.notifier.messages.size(), 1u);
    EXPECT_NE(messages.notifier.messages[0].text.find("Mozilla"), std::string::npos);
    // Find Cache only fills the edit; the setting changes on OK.
    EXPECT_EQ(settings.MozillaCachePath, "/old/cache");
}

TEST_F(OptionsDialogTest, FindCacheShowsTheFirstProfilesCacheFolderSelected) {
    const fs::path profiles = platform.localAppData / "mozilla" / "firefox";
    const fs::path cache = profiles / "a1b2.default" / "Cache";
    fs::create_directories(cache);
    mozcache::writeSyntheticCache(cache, 4, 4000);
    fs::create_directories(profiles / "z9.other" / "Cache");
    settings.MozillaCachePath = "/old/cache";  // not used by Find Cache
    OptionsDialog dialog(settings, texts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Click(dialog.findCache);
    EXPECT_EQ(dialog.cacheFolderEdit->text(), QString::fromStdString(pathToUtf8(cache)));
    EXPECT_TRUE(messages.notifier.messages.empty());
    EXPECT_EQ(dialog.cacheFolderEdit->selectedText(), dialog.cacheFolderEdit->text());
    EXPECT_TRUE(dialog.cacheFolderEdit->hasFocus());
}

TEST_F(OptionsDialogTest, FindCacheShowsAFolderWhoseCacheCannotBeOpened) {
    // The profile folder looked in, which holds no cache.
    const fs::path profile = platform.localAppData / "mozilla" / "firefox" / "p.default";
    fs::create_directories(profile / "Cache");  // no cache files in it
    OptionsDialog dialog(settings, texts);
    dialog.show();
    Click(dialog.findCache);
    EXPECT_EQ(dialog.cacheFolderEdit->text(), QString::fromStdString(pathToUtf8(profile)));
    EXPECT_EQ(messages.notifier.messages.size(), 1u);
}

TEST_F(OptionsDialogTest, BrowseButtonsOpenTheFolderChooserOnTheEditsFolder) {
    const fs::path start = temp / "start";
    const fs::path picked = temp / "picked";
    fs::create_directories(start);
    fs::create_directories(picked);
    settings.DefaultCombPath = pathToUtf8(start / "%DATE%");  // not there: opens on start
    texts.BrowseDirectory = "Pick a folder:";
    OptionsDialog dialog(settings, texts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QString title;
    QString openedOn;
    Watch watch = WhenShown<QFileDialog>([&](QFileDialog* chooser) {
        title = chooser->windowTitle();
        openedOn = chooser->directory().absolutePath();
        chooser->setDirectory(QString::fromStdString(pathToUtf8(picked)));
        static_cast<QDialog*>(chooser)->accept();
    });
    Click(dialog.defaultFolderBrowse);
    EXPECT_EQ(title, QStringLiteral("Pick a folder:"));
    EXPECT_EQ(openedOn, QString::fromStdString(pathToUtf8(start)));
    EXPECT_EQ(dialog.defaultFolderEdit->text(), QString::fromStdString(pathToUtf8(picked)));

    // Cancelled: the edit keeps its text.
    Type(dialog.cacheFolderEdit, QStringLiteral("/typed/by/hand"));
    watch = WhenShown<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
    Click(dialog.cacheFolderBrowse);
    EXPECT_EQ(dialog.cacheFolderEdit->text(), QStringLiteral("/typed/by/hand"));
}

TEST_F(OptionsDialogTest, HelpKeyOpensTheHelpFile) {
    UrlRecorder recorder(QStringLiteral("file"));
    OptionsDialog dialog(settings, texts);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QTest::keyClick(&dialog, Qt::Key_F1);
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened.front().toLocalFile(),
              QString::fromStdString(pathToUtf8(settings.helpPath)));
    EXPECT_TRUE(dialog.isVisible());
}
