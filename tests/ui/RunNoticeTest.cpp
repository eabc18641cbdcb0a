// The notice at the end of a run: which runs have one and what it says.
#include <gtest/gtest.h>

#include <QDir>

#include "app/LanguageTexts.h"
#include "engine/Browsers.h"
#include "ui/RunNotice.h"

using namespace harvix;

namespace {

TEST(RunNotice, SaysWhatTheRunDidAndNothingWhenItFoundNothingToDo) {
    const LanguageTexts texts;
    RunSummary run;
    run.browser = browserByWord("firefox");
    EXPECT_TRUE(runNotice(run, texts).isEmpty());  // never ended
    run.finished = true;
    EXPECT_TRUE(runNotice(run, texts).isEmpty());  // nothing found

    // Four folders: three named, the home folder written "~".
    const std::string home = QDir::homePath().toStdString();
    for (const char* folder : {"/a", "/b", "/c", "/d"}) {
        run.run.result.keptByFolder.emplace_back(home + folder, folder[1] == 'a' ? 2 : 1);
    }
    run.run.result.kept = 5;
    run.run.result.tooSmall = 7;
    run.run.result.stopped = true;
    RunNotice notice = runNotice(run, texts);
    EXPECT_EQ(notice.title, QStringLiteral("Mozilla Firefox: comb cancelled"));
    EXPECT_EQ(notice.text, QStringLiteral("Files kept: 5, in ~/a, ~/b, ~/c (+1)\n"
                                          "The files copied before the cancel are kept.\n"
                                          "Pictures too small: 7\n"
                                          "Click to open ~/a"));
    EXPECT_EQ(notice.folder, QString::fromStdString(home + "/a"));
    EXPECT_FALSE(notice.warning);
    EXPECT_EQ(notice.line(), notice.title + QStringLiteral(": Files kept: 5, in ~/a, ~/b, ~/c "
                                                           "(+1); The files copied before the "
                                                           "cancel are kept.; Pictures too "
                                                           "small: 7; Click to open ~/a"));

    // Only duplicates: nothing new, and nothing to open. Reasons beyond the
    // third, and URLs beyond those kept, are counted.
    RunSummary dull;
    dull.browser = run.browser;
    dull.finished = true;
    CombResult& result = dull.run.result;
    result.duplicates = 2;
    result.failed = 9;
    for (const char* reason : {"r1", "r2", "r3", "r4"}) {
        result.failures[reason] = {2, {"http://x/" + std::string(200, 'u')}};
    }
    notice = runNotice(dull, texts);
    EXPECT_TRUE(notice.folder.isEmpty());
    EXPECT_TRUE(notice.warning);
    EXPECT_TRUE(
        notice.text.startsWith(QStringLiteral("No new files kept\nDuplicates skipped: 2\n"
                                              "Could not be copied: 9\n2 \u00d7 r1: http")))
        << notice.text.toStdString();
    EXPECT_FALSE(notice.text.contains(QStringLiteral("r4")));
    EXPECT_TRUE(notice.text.endsWith(QStringLiteral("\u2026, \u2026\n\u2026")))
        << notice.text.toStdString();

    // A target folder refused was told in a box.
    result.foldersReady = false;
    EXPECT_TRUE(runNotice(dull, texts).isEmpty());

    // A cache that cannot be opened was told in a box too; a failure of its
    // opening that has no box is told here, in the words of its browser.
    RunSummary wine;
    wine.browser = browserByWord("ie");
    wine.finished = true;
    wine.run.openError = ErrorReport(ErrorReport::IECache, ErrorReport::CacheOpen, "index.dat");
    EXPECT_TRUE(runNotice(wine, texts).isEmpty());
    wine.run.openError = ErrorReport(ErrorReport::IECache, ErrorReport::FileRead, "index.dat");
    notice = runNotice(wine, texts);
    EXPECT_EQ(notice.title, QStringLiteral("Microsoft Internet Explorer: comb failed"));
    EXPECT_EQ(notice.text, QString::fromStdString(texts.ErrorIECacheOpen + "\nindex.dat"));
    EXPECT_TRUE(notice.warning);

    // A run that ended on a fault, never finished: it failed, and why; the
    // browser in the language's words.
    LanguageTexts german;
    german.BrowserNameApps = "Desktop-Apps";
    RunSummary broken;
    broken.browser = browserByWord("apps");
    broken.failure = "std::bad_alloc";
    notice = runNotice(broken, german);
    EXPECT_EQ(notice.title, QStringLiteral("Desktop-Apps: comb failed"));
    EXPECT_EQ(notice.text, QStringLiteral("std::bad_alloc"));
    EXPECT_TRUE(notice.warning);
}

}  // namespace
