// The custom controls: pictures, image button, hyperlink label, picture menu.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidgetAction>

#include "GuiTestSupport.h"
#include "controls/HyperlinkLabel.h"
#include "controls/ImageButton.h"
#include "controls/PictureMenu.h"
#include "controls/Pictures.h"
#include "ui/ProgramState.h"

using namespace harvix;

namespace {

const int kAllPictureIds[] = {128, 132, 133, 134, 136, 184, 185, 186, 187, 188, 190,
                              191, 192, 193, 194, 195, 196, 197, 198, 199, 200};

const ButtonImage kAllButtons[] = {ButtonImage::New,        ButtonImage::Open, ButtonImage::Save,
                                   ButtonImage::SaveAs,     ButtonImage::Add,  ButtonImage::Delete,
                                   ButtonImage::Edit,       ButtonImage::Up,   ButtonImage::Down,
                                   ButtonImage::Options,    ButtonImage::Help, ButtonImage::CombIE,
                                   ButtonImage::CombMozilla};

void SendEnter(QWidget& widget) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), widget.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&widget, &enter);
}

void SendLeave(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
}

}  // namespace

TEST(Pictures, EveryPictureIdDrawsAtMenuAndTraySizes) {
    for (int id : kAllPictureIds) {
        SCOPED_TRACE(id);
        const QIcon icon = pictureIcon(id);
        ASSERT_FALSE(icon.isNull());
        EXPECT_TRUE(HasDrawing(icon.pixmap(16, 16).toImage()));
        EXPECT_TRUE(HasDrawing(icon.pixmap(48, 48).toImage()));
    }
}

TEST(Pictures, UnknownIdsHaveNoPicture) {
    EXPECT_TRUE(picturePath(0).isEmpty());
    EXPECT_TRUE(pictureIcon(129).isNull());
    EXPECT_TRUE(pictureIcon(189).isNull());
    EXPECT_TRUE(pictureIcon(-1).isNull());
}

TEST(Pictures, EveryButtonHasTwoDifferentImages) {
    for (ButtonImage button : kAllButtons) {
        SCOPED_TRACE(buttonImagePath(button, false).toStdString());
        const QIcon normal = buttonImageIcon(button, false);
        const QIcon hover = buttonImageIcon(button, true);
        ASSERT_FALSE(normal.isNull());
        ASSERT_FALSE(hover.isNull());
        const QImage a = normal.pixmap(32, 32).toImage();
        const QImage b = hover.pixmap(32, 32).toImage();
        EXPECT_TRUE(HasDrawing(a));
        EXPECT_NE(a, b);
    }
}

TEST(ImageButton, ShowsTheHoverImageOnlyWhileThePointerIsOver) {
    ImageButton button;
    button.setImages(buttonImageIcon(ButtonImage::Save, false),
                     buttonImageIcon(ButtonImage::Save, true));
    button.resize(button.sizeHint());
    button.show();
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(button.text().isEmpty());

    const QImage plain = button.grab().toImage();
    SendEnter(button);
    EXPECT_TRUE(button.isHovered());
    const QImage hovered = button.grab().toImage();
    EXPECT_NE(plain, hovered);
    SendLeave(button);
    EXPECT_FALSE(button.isHovered());
    EXPECT_EQ(button.grab().toImage(), plain);
}

TEST(ImageButton, ClickEmitsClickedAndDisablingDropsTheHover) {
    ImageButton button;
    button.setImages(buttonImageIcon(ButtonImage::Add, false), QIcon());
    // Without a hover image the plain one serves for both.
    EXPECT_EQ(button.hoverImage().cacheKey(), button.normalImage().cacheKey());
    button.resize(button.sizeHint());
    button.show();
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);

    SendEnter(button);
    button.setEnabled(false);
    EXPECT_FALSE(button.isHovered());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(HyperlinkLabel, LinkLooksLikeALinkAndOpensItsAddressOnClick) {
    UrlRecorder recorder(QStringLiteral("https"));
    HyperlinkLabel label(QStringLiteral("harvix.example.org"),
                         QUrl(QStringLiteral("https://harvix.example.org/")));
    label.resize(label.sizeHint());
    label.show();
    EXPECT_TRUE(label.isLink());
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);

    QSignalSpy clicked(&label, &HyperlinkLabel::linkClicked);
    QTest::mouseClick(&label, Qt::LeftButton);
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened.front(), QUrl(QStringLiteral("https://harvix.example.org/")));
    EXPECT_EQ(clicked.count(), 1);

    // A press that is let go outside the label is no click; nor is the right button.
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(-20, -20));
    QTest::mouseClick(&label, Qt::RightButton);
    EXPECT_EQ(recorder.opened.size(), 1);
}

TEST(HyperlinkLabel, WithoutAnAddressItIsAPlainLabel) {
    UrlRecorder recorder(QStringLiteral("https"));
    HyperlinkLabel label;
    label.setText(QStringLiteral("plain"));
    const QColor plainColour = label.palette().color(QPalette::WindowText);
    label.setUrl(QUrl(QStringLiteral("https://harvix.example.org/")));
    label.setUrl(QUrl());
    label.show();
    EXPECT_FALSE(label.isLink());
    EXPECT_FALSE(label.font().underline());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), plainColour);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_TRUE(recorder.opened.isEmpty());
}

TEST(PictureMenu, TitleLinePicturesDefaultItemAndChosenCommand) {
    PictureMenu menu;
    menu.addCommand(11, QStringLiteral("First"), kPictureMenuAdd, true);
    menu.addSeparator();
    menu.addCommand(12, QStringLiteral("Second"), kPictureMenuDelete);
    // The title line goes above the items even when set after them.
    menu.setTitleLine(QStringLiteral("Title"));
    ASSERT_EQ(menu.actions().size(), 4);
    EXPECT_NE(qobject_cast<QWidgetAction*>(menu.actions().front()), nullptr);
    EXPECT_EQ(menu.titleLine(), QStringLiteral("Title"));

    const QList<QAction*> commands = menu.commands();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(PictureMenu::commandId(commands[0]), 11);
    EXPECT_EQ(PictureMenu::commandId(commands[1]), 12);
    EXPECT_EQ(menu.defaultAction(), commands[0]);
    EXPECT_TRUE(commands[0]->font().bold());
    EXPECT_FALSE(commands[1]->font().bold());
    EXPECT_FALSE(commands[0]->icon().isNull());
    EXPECT_EQ(PictureMenu::commandId(menu.actions()[2]), -1);  // the separator

    QSignalSpy chosen(&menu, &PictureMenu::commandChosen);
    commands[1]->trigger();
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.front().front().toInt(), 12);

    // Replacing the title keeps a single title line; an empty one removes it.
    menu.setTitleLine(QStringLiteral("Other"));
    EXPECT_EQ(menu.actions().size(), 4);
    menu.setTitleLine(QString());
    EXPECT_EQ(menu.actions().size(), 3);
}

TEST(PictureMenu, KeyboardChoiceReportsTheCommand) {
    PictureMenu menu;
    menu.setTitleLine(QStringLiteral("Title"));
    menu.addCommand(21, QStringLiteral("One"), kPictureMenuUp);
    menu.addCommand(22, QStringLiteral("Two"), kPictureMenuDown);
    QSignalSpy chosen(&menu, &PictureMenu::commandChosen);
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    // The title line cannot be chosen: Down moves onto the first command.
    QTest::keyClick(&menu, Qt::Key_Down);
    QTest::keyClick(&menu, Qt::Key_Down);
    QTest::keyClick(&menu, Qt::Key_Return);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.front().front().toInt(), 22);
}
