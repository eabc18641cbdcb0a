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
    run.kind = browserKindFromWord("firefox");
    EXPECT_TRUE(runNotice(run, texts).isEmpty());  // never combed
    run.combed = true;
    EXPECT_TRUE(runNotice(run, texts).isEmpty());  // nothing found

    // Four folders: three named, the home folder written "~".
    const std::string home = QDir::homePath().toStdString();
    for (const char* folder : {"/a", "/b", "/c", "/d"}) {
        run.addKept(home + folder + "/f0.png");
    }
    run.addKept(home + "/a/f1.png");
    ASSERT_EQ(run.folders.size(), 4u);
    EXPECT_EQ(run.folders[0].second, 2u);
    run.result.kept = 5;
    run.result.tooSmall = 7;
    run.result.stopped = true;
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
    dull.kind = run.kind;
    dull.combed = true;
    dull.result.duplicates = 2;
    dull.result.failed = 9;
    for (const char* reason : {"r1", "r2", "r3", "r4"}) {
        dull.result.failures[reason] = {2, {"http://x/" + std::string(200, 'u')}};
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

    // A target folder that cannot be made was told in a box.
    dull.result.foldersReady = false;
    EXPECT_TRUE(runNotice(dull, texts).isEmpty());

    // The Wine URL cache that cannot be opened.
    RunSummary wine;
    wine.kind = browserKindFromWord("ie");
    wine.openFailure = ErrorReport(ErrorReport::IECache, ErrorReport::CacheOpen, "no index.dat");
    notice = runNotice(wine, texts);
    EXPECT_EQ(notice.title, QStringLiteral("Microsoft Internet Explorer: comb failed"));
    EXPECT_EQ(notice.text, QString::fromStdString(texts.ErrorIECacheOpen + "\nno index.dat"));
    EXPECT_TRUE(notice.warning);
}

}  // namespace
