// The about box: product and version, the language's comments, the link.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/LanguageTexts.h"
#include "controls/HyperlinkLabel.h"
#include "ui/AboutDlg.h"
#include "ui/HarvixDlg.h"

namespace {

class AboutDlgTest : public ::testing::Test {
protected:
    ~AboutDlgTest() override { TheLanguage() = LanguageTexts{}; }
};

TEST_F(AboutDlgTest, ShowsProductVersionCommentsAndTheSiteLink) {
    TheLanguage().AboutTitle = "Über";
    TheLanguage().Comments = "Sammelt Dateien.";
    CAboutDlg about(QString::fromLatin1(kHarvixSiteUrl));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Über"));
    EXPECT_EQ(about.ProductLabel()->text(), QStringLiteral("Harvix v 1.1"));
    EXPECT_TRUE(about.ProductLabel()->font().bold());
    EXPECT_EQ(about.CommentsLabel()->text(), QStringLiteral("Sammelt Dateien."));
    EXPECT_FALSE(about.CommentsLabel()->isHidden());
    EXPECT_EQ(about.Link()->Url(), QUrl(QStringLiteral("https://harvix.example.org/")));
    EXPECT_TRUE(about.Link()->IsLink());
}

TEST_F(AboutDlgTest, WithoutCommentsTheLineTakesNoRoomAndOkCloses) {
    CAboutDlg about(QString::fromLatin1(kHarvixSiteUrl));
    EXPECT_TRUE(about.CommentsLabel()->isHidden());
    about.show();
    QTest::mouseClick(about.OkButton(), Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
