#include <gtest/gtest.h>

#include "app/LanguageTexts.h"
#include "engine/ErrorReport.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

class ErrorReportTest : public ::testing::Test {
protected:
    ErrorReportTest() : scoped_(fake_) {}
    FakePlatform fake_;
    ScopedPlatform scoped_;
    ScopedRecordingNotifier recorder_;
};

TEST_F(ErrorReportTest, UnopenableFirefoxCacheShowsOneBoxWithTheSystemText) {
    fake_.systemErrorText = "No such file or directory";
    try {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen, "/x/_CACHE_MAP_");
    } catch (const ErrorReport&) {
    }
    ASSERT_EQ(recorder_.notifier.messages.size(), 1u);
    const auto& m = recorder_.notifier.messages[0];
    EXPECT_EQ(m.text,
              "MozillaCache: \nCan't open Mozilla cache. Please, define the correct path in the "
              "Options dialog.\nДоп. инфо: \nNo such file or directory");
    EXPECT_EQ(m.icon, MessageIcon::Error);
    EXPECT_EQ(m.buttons, MessageButtons::Ok);
}

TEST_F(ErrorReportTest, CreateFolderNamesTheFolderAndOmitsAMissingSystemText) {
    fake_.systemErrorText = "";
    ErrorReport error(ErrorReport::FilterCache, ErrorReport::CreateFolder, "/media/gone/HX_FILES");
    ASSERT_EQ(recorder_.notifier.messages.size(), 1u);
    EXPECT_EQ(recorder_.notifier.messages[0].text,
              "FilterCache: \nCan't create the folder:\n/media/gone/HX_FILES");
}

TEST_F(ErrorReportTest, TheBodyComesFromTheLanguageTable) {
    LanguageTexts saved = theLanguage();
    theLanguage().ErrorCreateFolder = "Ordner kann nicht angelegt werden";
    EXPECT_EQ(
        ErrorReport::boxText(ErrorReport::FilterCache, ErrorReport::CreateFolder, "/a", "why\n"),
        "FilterCache: \nOrdner kann nicht angelegt werden:\n/a\nДоп. инфо: \nwhy\n");
    theLanguage() = saved;
}

TEST_F(ErrorReportTest, EveryOtherReportIsSilent) {
    fake_.systemErrorText = "Permission denied";
    for (int32_t module :
         {ErrorReport::FilterCache, ErrorReport::MozillaCache, ErrorReport::IECache}) {
        for (int32_t kind : {ErrorReport::FileOpen, ErrorReport::FileRead, ErrorReport::FileWrite,
                             ErrorReport::FileCopy}) {
            if (module == ErrorReport::MozillaCache && kind == ErrorReport::FileOpen) {
                continue;
            }
            ErrorReport error(module, kind, "/some/file", "/target");
            EXPECT_FALSE(ErrorReport::showsBox(module, kind));
        }
    }
    EXPECT_TRUE(recorder_.notifier.messages.empty());
}

}  // namespace

}  // namespace harvix
