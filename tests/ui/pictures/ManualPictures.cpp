// harvix_manual_pictures: saves a picture of every window and menu of the
// tray program into the build's screenshot folder, the pictures of the
// manual and for a person to look at. Not a test: run it by hand,
//   QT_QPA_PLATFORM=offscreen build/tests/ui/harvix_manual_pictures
#include <gtest/gtest.h>

#include <QDir>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "GuiTestSupport.h"
#include "MainWindowTestSupport.h"
#include "app/Settings.h"
#include "controls/HyperlinkLabel.h"
#include "controls/ImageButton.h"
#include "controls/PictureMenu.h"
#include "controls/Pictures.h"
#include "platform/Path.h"
#include "support/TestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/Commands.h"
#include "ui/FilterItemDialog.h"
#include "ui/NoticeBubble.h"
#include "ui/OptionsDialog.h"
#include "ui/ProgramState.h"
#include "ui/ProgressWindow.h"
#include "ui/RunNotice.h"
#include "ui/TrayIcon.h"

using namespace harvix;

namespace {

void save(const QImage& image, const QString& name) {
    ASSERT_FALSE(image.isNull()) << name.toStdString();
    EXPECT_TRUE(HasDrawing(image)) << name.toStdString();
    const QString path = SaveScreenshot(image, name);
    EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
}

const fs::path kLangs = fs::path(HARVIX_SOURCE_DIR) / "resources" / "Langs";

Settings SampleSettings() {
    Settings settings;
    settings.langsDir = kLangs;
    settings.Language = pathToUtf8(kLangs / "English.lng");
    settings.MozillaCachePath = "/home/user/.cache/mozilla/firefox/k2x9.default/Cache";
    settings.DefaultCombPath = "~/HX_FILES/%DATE%";
    settings.setWatches(*browserByWord("ie"), false);
    return settings;
}

LanguageTexts Texts(const char* file) {
    LanguageTexts texts;
    Settings settings;
    settings.Language = pathToUtf8(kLangs / file);
    loadLanguage(texts, settings);
    return texts;
}

QImage GrabWindow(QWidget& window) {
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    return window.grab().toImage();
}

FilterItem SampleItem() {
    FilterItem item;
    item.contentType = 1;
    item.minSize = 10240;
    item.url = "photos, .example.org";
    item.minWidth = 320;
    item.minHeight = 240;
    item.directoryTemplate = "~/HX_FILES/Photos/%DATE%";
    item.stem = "photo";
    return item;
}

QImage GrabPopup(QMenu& menu) {
    menu.popup(QPoint(40, 40));
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&menu));
    QImage image = menu.grab().toImage();
    menu.close();
    return image;
}

}  // namespace

TEST(Screenshots, ProgressWindowAndNotice) {
    Settings settings;
    settings.NotifyProgressTransparency = 255;
    ProgressWindow window(settings);
    window.applyTransparency();
    window.applyTexts(LanguageTexts{});
    window.beginRun(QStringLiteral("Chromium"));
    window.setCount(120, 964);
    window.setPosition(13);
    window.show();
    save(window.grab().toImage(), QStringLiteral("progress-window"));

    // The notice at the end of a run, as the program's own bubble shows it
    // where the tray's message cannot be seen (the desktop draws that one).
    RunSummary run;
    run.browser = browserByWord("chromium");
    run.finished = true;
    CombResult& result = run.run.result;
    result.kept = 212;
    result.duplicates = 14;
    result.tooSmall = 37;
    result.failed = 2;
    result.failures["the copy cannot be written (No space left on device)"] = {
        2, {"https://photos.example.com/2024/harbour.png", "https://cdn.example.net/banner.png"}};
    const std::string home = QDir::homePath().toStdString();
    result.keptByFolder = {{home + "/HX_FILES/Photos/12.05.2025", 71},
                           {home + "/HX_FILES/Pictures", 141}};
    const RunNotice notice = runNotice(run, LanguageTexts{});
    NoticeBubble bubble;
    bubble.showNotice(notice.title, notice.text, notice.warning);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bubble));
    save(bubble.grab().toImage(), QStringLiteral("run-notice"));
}

TEST(Screenshots, TrayMenu) {
    ScopedLanguage keep;
    TrayIcon tray;
    const CommandSet commands;
    std::unique_ptr<PictureMenu> menu(tray.buildMenu(commands));
    save(GrabPopup(*menu), QStringLiteral("tray-menu"));
}

TEST(Screenshots, ImageButtonsPlainAndHovered) {
    const ButtonImage buttons[] = {ButtonImage::New,        ButtonImage::Open, ButtonImage::Save,
                                   ButtonImage::SaveAs,     ButtonImage::Add,  ButtonImage::Delete,
                                   ButtonImage::Edit,       ButtonImage::Up,   ButtonImage::Down,
                                   ButtonImage::Options,    ButtonImage::Help, ButtonImage::CombIE,
                                   ButtonImage::CombMozilla};
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    layout->setSpacing(2);
    std::vector<ImageButton*> made;
    for (ButtonImage image : buttons) {
        auto* button = new ImageButton(&row);
        button->setImages(buttonImageIcon(image, false), buttonImageIcon(image, true));
        layout->addWidget(button);
        if (image == ButtonImage::CombIE) {
            layout->insertSpacing(layout->count() - 1, 24);
        }
        made.push_back(button);
    }
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    const QImage plain = row.grab().toImage();
    for (ImageButton* button : made) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(button, &enter);
    }
    const QImage hovered = row.grab().toImage();
    QImage both(plain.width(), plain.height() + hovered.height(), QImage::Format_ARGB32);
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawImage(0, 0, plain);
    painter.drawImage(0, plain.height(), hovered);
    painter.end();
    save(both, QStringLiteral("image-buttons"));
}

TEST(Screenshots, IconsAndTrayFrames) {
    // The application icon at the sizes a desktop asks for, then the five
    // animation frames at tray size and enlarged.
    const int sizes[] = {16, 22, 32, 48, 128};
    QImage sheet(5 * 140, 280, QImage::Format_ARGB32);
    sheet.fill(QColor(238, 238, 238));
    QPainter painter(&sheet);
    int x = 8;
    for (int size : sizes) {
        painter.drawPixmap(x, 8, pictureIcon(kPictureAppIcon).pixmap(size, size));
        x += size + 16;
    }
    for (int i = 0; i < 5; ++i) {
        const QIcon frame = pictureIcon(kPictureTrayFrame0 + i);
        painter.drawPixmap(8 + i * 140, 150, frame.pixmap(22, 22));
        painter.drawPixmap(40 + i * 140, 150, frame.pixmap(96, 96));
    }
    painter.end();
    save(sheet, QStringLiteral("icons-and-tray-frames"));
}

TEST(Screenshots, MenuPictures) {
    PictureMenu menu;
    menu.setTitleLine(QStringLiteral("Menu pictures"));
    const struct {
        int id;
        const char* name;
    } pictures[] = {{193, "Add"},  {194, "Delete"},      {195, "Edit"},      {199, "Up"},
                    {200, "Down"}, {198, "Open Folder"}, {196, "Check All"}, {197, "Uncheck All"}};
    for (const auto& picture : pictures) {
        menu.addCommand(picture.id, QString::fromLatin1(picture.name), picture.id);
    }
    save(GrabPopup(menu), QStringLiteral("menu-pictures"));
}

TEST(Screenshots, HyperlinkLabel) {
    QWidget box;
    auto* layout = new QHBoxLayout(&box);
    layout->addWidget(new QLabel(QStringLiteral("Plain label"), &box));
    layout->addWidget(new HyperlinkLabel(QStringLiteral("https://harvix.example.org"),
                                         QUrl(QStringLiteral("https://harvix.example.org")), &box));
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    save(box.grab().toImage(), QStringLiteral("hyperlink-label"));
}

TEST(Screenshots, OptionsDialogInEnglishAndGerman) {
    for (const char* language : {"English", "German"}) {
        Settings settings = SampleSettings();
        settings.Language = pathToUtf8(kLangs / (std::string(language) + ".lng"));
        LanguageTexts texts = Texts((std::string(language) + ".lng").c_str());
        OptionsDialog dialog(settings, texts);
        save(GrabWindow(dialog),
             QStringLiteral("options-dialog-%1").arg(QLatin1String(language)).toLower());
    }
}

TEST(Screenshots, FilterEditorAndItsFolderMessage) {
    ScopedLanguage keep;
    FakePlatform platform;
    ScopedPlatform scoped(platform);
    FilterItem item = SampleItem();
    {
        FilterItemDialog dialog(Q(theLanguage().Edit), &item);
        save(GrabWindow(dialog), QStringLiteral("filter-editor"));
        dialog.directoryTemplate->setText(QStringLiteral("Photos"));
        QImage message;
        const Watch watch = WhenShown<QMessageBox>([&](QMessageBox* box) {
            message = box->grab().toImage();
            box->accept();
        });
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
        save(message, QStringLiteral("filter-editor-folder-message"));
    }
    theLanguage() = Texts("German.lng");
    FilterItemDialog german(Q(theLanguage().Add), &item);
    save(GrabWindow(german), QStringLiteral("filter-editor-german"));
}

TEST(Screenshots, TrayMenuInGerman) {
    ScopedLanguage keep;
    theLanguage() = Texts("German.lng");
    TrayIcon tray;
    const CommandSet commands;
    std::unique_ptr<PictureMenu> menu(tray.buildMenu(commands));
    save(GrabPopup(*menu), QStringLiteral("tray-menu-german"));
}

TEST(Screenshots, MainWindowAndAboutBox) {
    MainWindowWorld world;
    MainWindow& window = world.Open(world.WriteFilter("Pictures.flt", 7));
    window.showMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.selectRow(2);
    save(window.grab().toImage(), QStringLiteral("main-window"));
    std::unique_ptr<QMenu> listMenu = window.buildListMenu();
    save(GrabPopup(*listMenu), QStringLiteral("list-menu"));

    AboutDialog about(QStringLiteral("https://harvix.example.org"));
    save(GrabWindow(about), QStringLiteral("about-box"));
}
