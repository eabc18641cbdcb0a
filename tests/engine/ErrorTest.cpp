#include <gtest/gtest.h>

#include "app/LanguageTexts.h"
#include "engine/Error.h"
#include "support/TestSupport.h"

namespace {

class ErrorTest : public ::testing::Test {
protected:
    ErrorTest() : scoped_(fake_) {}
    FakePlatform fake_;
    ScopedPlatform scoped_;
    ScopedRecordingNotifier recorder_;
};

TEST_F(ErrorTest, UnopenableFirefoxCacheShowsOneBoxWithTheSystemText) {
    fake_.systemErrorText = "No such file or directory";
    try {
        throw CError(CError::MozillaCache, CError::FileOpen, "/x/_CACHE_MAP_");
    } catch (const CError&) {
    }
    ASSERT_EQ(recorder_.notifier.messages.size(), 1u);
    const auto& m = recorder_.notifier.messages[0];
    EXPECT_EQ(m.text,
              "MozillaCache: \nCan't open Mozilla cache. Please, define the correct path in the "
              "Options dialog.\nДоп. инфо: \nNo such file or directory");
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_EQ(m.buttons, MessageButtons::Ok);
}

TEST_F(ErrorTest, CreateFolderNamesTheFolderAndOmitsAMissingSystemText) {
    fake_.systemErrorText = "";
    CError error(CError::FilterCache, CError::CreateFolder, "/media/gone/HX_FILES");
    ASSERT_EQ(recorder_.notifier.messages.size(), 1u);
    EXPECT_EQ(recorder_.notifier.messages[0].text,
              "FilterCache: \nCan't create the folder:\n/media/gone/HX_FILES");
}

TEST_F(ErrorTest, TheBodyComesFromTheLanguageTable) {
    LanguageTexts saved = TheLanguage();
    TheLanguage().ErrorCreateFolder = "Ordner kann nicht angelegt werden";
    EXPECT_EQ(CError::BoxText(CError::FilterCache, CError::CreateFolder, "/a", "why\n"),
              "FilterCache: \nOrdner kann nicht angelegt werden:\n/a\nДоп. инфо: \nwhy\n");
    TheLanguage() = saved;
}

TEST_F(ErrorTest, EveryOtherReportIsSilent) {
    fake_.systemErrorText = "Permission denied";
    for (int32_t module : {CError::FilterCache, CError::MozillaCache, CError::IECache}) {
        for (int32_t kind :
             {CError::FileOpen, CError::FileRead, CError::FileWrite, CError::FileCopy}) {
            if (module == CError::MozillaCache && kind == CError::FileOpen) {
                continue;
            }
            CError error(module, kind, "/some/file", "/target");
            EXPECT_FALSE(CError::ShowsBox(module, kind));
        }
    }
    EXPECT_TRUE(recorder_.notifier.messages.empty());
}

}  // namespace
