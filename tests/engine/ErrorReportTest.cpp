#include <gtest/gtest.h>

#include <cerrno>

#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "base/ErrorReport.h"

namespace harvix {

namespace {

TEST(ErrorReportTest, UnopenableFirefoxCacheReadsAsOneBoxWithTheFolderAndTheSystemText) {
    const ErrorReport report(ErrorReport::MozillaCache, ErrorReport::CacheOpen, "/x/Cache",
                             "/x/Cache/_CACHE_MAP_", ENOENT);
    EXPECT_TRUE(showsErrorBox(report));
    EXPECT_EQ(errorBoxText(report, LanguageTexts{}),
              "MozillaCache: \nCan't open Mozilla cache. Please, define the correct path in the "
              "Options dialog.\n/x/Cache\nExtra information: \nNo such file or directory");
    // A report is a value: building or throwing it shows nothing.
    EXPECT_EQ(report.systemError(), ENOENT);
    EXPECT_EQ(report.path(), "/x/Cache");
    EXPECT_EQ(report.secondPath(), "/x/Cache/_CACHE_MAP_");
}

TEST(ErrorReportTest, CreateFolderNamesTheFolderAndOmitsAMissingSystemText) {
    const ErrorReport report(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                             "/media/gone/HX_FILES");
    EXPECT_EQ(errorBoxText(report, LanguageTexts{}),
              "FilterCache: \nCan't create the folder:\n/media/gone/HX_FILES");
}

TEST(ErrorReportTest, TheBodyComesFromTheLanguageTable) {
    LanguageTexts texts;
    texts.ErrorCreateFolder = "Ordner kann nicht angelegt werden";
    texts.ErrorExtraInfo = "Weitere Angaben";
    const ErrorReport report(ErrorReport::FilterCache, ErrorReport::CreateFolder, "/a", {}, EACCES);
    EXPECT_EQ(
        errorBoxText(report, texts),
        "FilterCache: \nOrdner kann nicht angelegt werden:\n/a\nWeitere Angaben: \nPermission "
        "denied");
}

TEST(ErrorReportTest, CopyFailuresShowNoBox) {
    for (ErrorReport::Module module :
         {ErrorReport::FilterCache, ErrorReport::MozillaCache, ErrorReport::IECache,
          ErrorReport::ChromiumCache, ErrorReport::BodyCopy, ErrorReport::CacheReader}) {
        for (ErrorReport::Kind kind : {ErrorReport::FileRead, ErrorReport::FileWrite,
                                       ErrorReport::FileCopy, ErrorReport::Unsupported}) {
            const ErrorReport report(module, kind, "/some/file", "/target", EACCES);
            EXPECT_FALSE(showsErrorBox(report));
            EXPECT_EQ(errorBoxText(report, LanguageTexts{}), "");
        }
    }
    // A cache that cannot be opened is told, with the text its browser names.
    const ErrorReport urlCache(ErrorReport::IECache, ErrorReport::CacheOpen, "x");
    EXPECT_TRUE(showsErrorBox(urlCache));
    LanguageTexts texts;
    texts.ErrorIECacheOpen = "no index";
    EXPECT_NE(errorBoxText(urlCache, texts, browserByWord("maxthon")).find("no index"),
              std::string::npos);
    // The box names who failed: the reader that joins several stores is no
    // filter.
    const ErrorReport stores(ErrorReport::CacheReader, ErrorReport::CacheOpen, "", {}, ENOENT);
    EXPECT_EQ(errorBoxText(stores, LanguageTexts{}).rfind("CacheReader: \n", 0), 0u);
}

}  // namespace

}  // namespace harvix
