// What every row of the browser table must hold for both front ends: its
// words find it, its watch key round-trips through the settings file and
// makes it one of the watched browsers, its texts are in every language
// file, and a cache of it that cannot be opened is told in the tray
// program's words and on the command line. A row added to the table is
// checked here without a line of this test changing.
#include <gtest/gtest.h>

#include <set>

#include "CombTestFixture.h"
#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/Profile.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace {

const fs::path kLangs = fs::path(HARVIX_SOURCE_DIR) / "resources" / "Langs";

class BrowserRowContract : public CliCacheTest {};

TEST_F(BrowserRowContract, WordsAndWatchKeysNameExactlyOneRow) {
    std::set<std::string> words;
    std::set<std::string> keys;
    for (const BrowserRow& row : browserTable()) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(&browserTable()[row.index], &row);
        for (const std::string& word : row.words()) {
            EXPECT_TRUE(words.insert(word).second) << word << " names two rows";
            EXPECT_EQ(browserByWord(word), &row) << word;
        }
        EXPECT_TRUE(keys.insert(row.watchSettingsKey).second);
        EXPECT_EQ(browserByWatchKey(row.watchSettingsKey), &row);
        EXPECT_FALSE(row.processNames.empty()) << "a row nobody can see running";
        EXPECT_TRUE(row.makeReader) << "a row without a reader";
    }
    EXPECT_EQ(browserByWord("netscape"), nullptr);
}

TEST_F(BrowserRowContract, EachWatchKeyRoundTripsThroughTheSettingsFile) {
    const fs::path cfg = dir_ / "prog" / "Harvix.cfg";
    // Every browser installed: switching one off is the user's choice for
    // each row, which the file must keep.
    for (const BrowserRow& row : browserTable()) {
        fake_.installed.insert(fake_.installed.end(), row.programs.begin(), row.programs.end());
    }
    for (const BrowserRow& watched : browserTable()) {
        SCOPED_TRACE(watched.id);
        // Only this row is watched, as the file says, whatever the machine has.
        std::string text = "[GENERAL]\n";
        for (const BrowserRow& row : browserTable()) {
            text += row.watchSettingsKey + (&row == &watched ? "=1\n" : "=0\n");
        }
        writeFile(cfg, text);
        LanguageTexts texts;
        Settings settings;
        settings.initSettings(texts);
        ASSERT_EQ(settings.watchedRows(), std::vector<const BrowserRow*>{&watched});

        // Switched off, saved and read again: watched by no one.
        settings.setWatches(watched, false);
        settings.saveSettings();
        EXPECT_NE(readFile(cfg).find("\n" + watched.watchSettingsKey + "=0\n"), std::string::npos)
            << readFile(cfg);
        Settings again;
        again.initSettings(texts);
        EXPECT_TRUE(again.watchedRows().empty());
    }
}

TEST_F(BrowserRowContract, EveryLanguageFileHoldsEachRowsTexts) {
    std::set<std::string> known;
    for (const auto& key : LanguageTexts::Keys()) {
        known.insert(key.name);
    }
    int files = 0;
    for (const auto& entry : fs::directory_iterator(kLangs)) {
        ++files;
        const ProfileFile file = ProfileFile::load(entry.path());
        for (const BrowserRow& row : browserTable()) {
            for (const std::string& key :
                 {row.nameTextKey, row.combTextKey, row.watchTextKey, row.cacheOpenErrorKey}) {
                SCOPED_TRACE(entry.path().filename().string() + " " + row.id + " " + key);
                EXPECT_EQ(known.count(key), 1u) << "not a key of the program's texts";
                EXPECT_FALSE(file.get("GENERAL", key).empty());
            }
        }
    }
    EXPECT_GE(files, 3);
}

TEST_F(BrowserRowContract, ACacheThatCannotBeOpenedIsToldInBothFrontEnds) {
    const fs::path missing = dir_ / "no cache here";
    LanguageTexts texts;
    for (const BrowserRow& row : browserTable()) {
        SCOPED_TRACE(row.id);
        std::unique_ptr<CacheReader> reader = row.readerAt(fake_, pathToUtf8(missing));
        const std::optional<ErrorReport> failed = openCache(*reader);
        ASSERT_TRUE(failed);
        // The tray program shows a box in the row's words.
        const std::string box = errorBoxText(*failed, texts, &row);
        ASSERT_FALSE(texts.byKey(row.cacheOpenErrorKey).empty());
        EXPECT_NE(box.find(texts.byKey(row.cacheOpenErrorKey)), std::string::npos) << box;
        // The command line says so and names the folder tried.
        const Result listed = run({"list", row.id, "--cache", pathToUtf8(missing)});
        EXPECT_EQ(listed.code, 2);
        EXPECT_TRUE(listed.out.empty());
        EXPECT_NE(listed.err.find(pathToUtf8(missing)), std::string::npos) << listed.err;
    }
}

}  // namespace

}  // namespace harvix
