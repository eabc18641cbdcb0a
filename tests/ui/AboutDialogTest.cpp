// The about box: product and version, the language's comments, the link.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "controls/HyperlinkLabel.h"
#include "ui/AboutDialog.h"
#include "ui/MainWindow.h"
#include "ui/ProgramState.h"

using namespace harvix;

namespace {

class AboutDialogTest : public ::testing::Test {
protected:
    ~AboutDialogTest() override { theLanguage() = LanguageTexts{}; }
};

TEST_F(AboutDialogTest, ShowsProductVersionCommentsAndTheSiteLink) {
    theLanguage().AboutTitle = "Über";
    theLanguage().Comments = "Sammelt Dateien.";
    // No web site: the link leads to the installed manual.
    const Settings keep = theSettings();
    theSettings().helpPath = "/usr/share/harvix/help/index.html";
    AboutDialog about(siteAddress().toString());
    theSettings() = keep;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Über"));
    // The product and a version of numbers (not an empty or unexpanded one).
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Harvix v \\d+\\.\\d+$"))
                    .match(about.productLabel()->text())
                    .hasMatch())
        << about.productLabel()->text().toStdString();
    EXPECT_TRUE(about.productLabel()->font().bold());
    EXPECT_EQ(about.commentsLabel()->text(), QStringLiteral("Sammelt Dateien."));
    EXPECT_FALSE(about.commentsLabel()->isHidden());
    EXPECT_EQ(about.link()->url(),
              QUrl(QStringLiteral("file:///usr/share/harvix/help/index.html")));
    EXPECT_TRUE(about.link()->isLink());
}

TEST_F(AboutDialogTest, WithoutCommentsTheLineTakesNoRoomAndOkCloses) {
    AboutDialog about(siteAddress().toString());
    EXPECT_TRUE(about.commentsLabel()->isHidden());
    about.show();
    QTest::mouseClick(about.okButton(), Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
