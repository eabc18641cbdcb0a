#include <gtest/gtest.h>

#include <set>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/Profile.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

class LanguageTest : public ::testing::Test {
protected:
    LanguageTest() {
        settings_.langsDir = dir_ / "Langs";
        fs::create_directories(settings_.langsDir);
    }
    fs::path Lang(const std::string& name) const { return settings_.langsDir / name; }

    TempDir dir_;
    Settings settings_;
    LanguageTexts texts_;
};

TEST_F(LanguageTest, BuiltInTextsStayWithoutAFile) {
    settings_.Language = Lang("Missing.lng").string();
    EXPECT_TRUE(loadLanguage(texts_, settings_));
    EXPECT_EQ(texts_.TrayMenuExit, "Exit");
    EXPECT_EQ(texts_.Comments, "");
    EXPECT_EQ(texts_.ErrorMozillaCacheOpen,
              "Can't open Mozilla cache. Please, define the correct path in the Options dialog.");
    EXPECT_EQ(texts_.ErrorExtraInfo, "Extra information");  // English like every built-in text
}

TEST_F(LanguageTest, AFileOverridesOnlyTheKeysItHasWithText) {
    writeFile(Lang("Part.lng"), "[GENERAL]\nTrayMenuExit=Beenden\nOptTitle=\n");
    settings_.Language = Lang("Part.lng").string();
    loadLanguage(texts_, settings_);
    EXPECT_EQ(texts_.TrayMenuExit, "Beenden");
    EXPECT_EQ(texts_.OptTitle, "Options");
    EXPECT_EQ(texts_.TrayMenuAbout, "About");
}

TEST_F(LanguageTest, SwitchingToAnIncompleteFileKeepsThePreviousTexts) {
    writeFile(Lang("A.lng"), "[GENERAL]\nOptTitle=Einstellungen\nNew=Neu\n");
    writeFile(Lang("B.lng"), "[GENERAL]\nNew=Nouveau\n");
    settings_.Language = Lang("A.lng").string();
    loadLanguage(texts_, settings_);
    settings_.Language = Lang("B.lng").string();
    loadLanguage(texts_, settings_);
    EXPECT_EQ(texts_.New, "Nouveau");
    EXPECT_EQ(texts_.OptTitle, "Einstellungen");
}

TEST_F(LanguageTest, ListingFindsLngFilesOnlyAndPicksTheCurrentOne) {
    writeFile(Lang("B.lng"), "[GENERAL]\nLanguage=Bee\n");
    writeFile(Lang("A.lng"), "[GENERAL]\nLanguage=Ay\n");
    writeFile(Lang("NoName.lng"), "[GENERAL]\nNew=x\n");
    writeFile(Lang("readme.txt"), "not a language");
    fs::create_directories(Lang("Folder.lng"));
    settings_.Language = Lang("B.lng").string();
    const LanguageList list = listLanguages(settings_);
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0].first, "Ay");
    EXPECT_EQ(list.entries[1].first, "Bee");
    EXPECT_EQ(list.entries[2].first, "");  // listed with an empty name
    EXPECT_EQ(list.current, 1);
    EXPECT_EQ(settings_.Language, Lang("B.lng").string());
}

TEST_F(LanguageTest, ADifferentCaseDoesNotMatchAndTheFirstFileTakesOver) {
    writeFile(Lang("English.lng"), "[GENERAL]\nLanguage=English\n");
    writeFile(Lang("German.lng"), "[GENERAL]\nLanguage=Deutsch\n");
    settings_.Language = Lang("GERMAN.lng").string();
    const LanguageList list = listLanguages(settings_);
    EXPECT_EQ(list.current, 0);
    EXPECT_EQ(settings_.Language, Lang("English.lng").string());
}

TEST_F(LanguageTest, AnEmptyFolderGivesAnEmptyListAndKeepsTheSetting) {
    settings_.Language = "/somewhere/English.lng";
    const LanguageList list = listLanguages(settings_);
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(list.current, -1);
    EXPECT_EQ(settings_.Language, "/somewhere/English.lng");
    settings_.langsDir = dir_ / "NoLangsFolder";
    EXPECT_TRUE(listLanguages(settings_).entries.empty());
}

// The shipped language files: every key present and non-empty (Comments may
// be empty), no unknown keys, and a display name; the English file says
// what the built-in texts say.
TEST(ShippedLanguages, EveryFileHoldsEveryKey) {
    const fs::path langs = fs::path(HARVIX_SOURCE_DIR) / "resources" / "Langs";
    std::set<std::string> known;
    for (const auto& key : LanguageTexts::Keys()) {
        known.insert(key.name);
    }
    int files = 0;
    for (const auto& entry : fs::directory_iterator(langs)) {
        ++files;
        const ProfileFile file = ProfileFile::load(entry.path());
        SCOPED_TRACE(entry.path().string());
        EXPECT_FALSE(file.get("GENERAL", "Language").empty());
        const bool english = entry.path().filename() == "English.lng";
        for (const auto& key : LanguageTexts::Keys()) {
            EXPECT_NE(file.get("GENERAL", key.name, "<missing>"), "<missing>") << key.name;
            if (english && std::string_view(key.name) != "Comments") {
                EXPECT_EQ(file.get("GENERAL", key.name), LanguageTexts{}.*key.text) << key.name;
            }
        }
        // Keys beyond the table would be typing errors.
        const std::string text = readFile(entry.path());
        std::size_t pos = 0;
        while ((pos = text.find('\n', pos)) != std::string::npos) {
            ++pos;
            const std::size_t eq = text.find('=', pos);
            const std::size_t eol = text.find('\n', pos);
            if (eq == std::string::npos || (eol != std::string::npos && eq > eol)) {
                continue;
            }
            const std::string key = text.substr(pos, eq - pos);
            if (key != "Language") {
                EXPECT_TRUE(known.count(key) == 1) << "unknown key " << key;
            }
        }
    }
    EXPECT_GE(files, 3);
}

}  // namespace

}  // namespace harvix
