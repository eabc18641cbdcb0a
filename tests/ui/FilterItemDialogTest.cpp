// The filter editor, driven with the mouse and the keyboard: what it shows,
// what OK writes into the item, the folder rule, the number reading, Cancel
// and the folder chooser.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <limits>
#include <optional>

#include "GuiTestSupport.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/ContentType.h"
#include "base/Text.h"
#include "platform/Path.h"
#include "support/TestSupport.h"
#include "ui/FilterItemDialog.h"
#include "ui/ProgramState.h"

using namespace harvix;

namespace {

using Item = FilterItem;

class FilterItemDialogTest : public ::testing::Test {
protected:
    FilterItemDialogTest() : scopedPlatform(platform) {
        item.contentType = 1;
        item.minSize = 2048;
        item.url = "images, .example.org";
        item.minWidth = 100;
        item.minHeight = 80;
        item.directoryTemplate = "/home/tester/HX_FILES";
        item.stem = "pic";
    }

    static void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    // Picks a content type with the keyboard, as a user would.
    static void Choose(QComboBox* list, const QString& name) {
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Home);
        for (int i = 0; i < list->count() && list->currentText() != name; ++i) {
            QTest::keyClick(list, Qt::Key_Down);
        }
        ASSERT_EQ(list->currentText(), name);
    }

    // Opens the editor on `item`, lets `edit` work on it, then presses OK.
    // Returns the text of the folder-rule message, empty when none came.
    QString EditAndConfirm(const std::function<void(FilterItemDialog&)>& edit, bool* accepted) {
        FilterItemDialog dialog(QStringLiteral("Edit"), &item);
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        edit(dialog);
        QString message;
        const Watch watch = WhenShown<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
        QTest::qWait(0);
        *accepted = dialog.result() == QDialog::Accepted && !dialog.isVisible();
        return message;
    }

    static bool SameItem(const Item& a, const Item& b) {
        return a.disabled == b.disabled && a.contentType == b.contentType &&
               a.minSize == b.minSize && a.url == b.url && a.urlParts == b.urlParts &&
               a.minWidth == b.minWidth && a.minHeight == b.minHeight &&
               a.directory == b.directory && a.directoryTemplate == b.directoryTemplate &&
               a.stem == b.stem && a.siteTree == b.siteTree;
    }

    FakePlatform platform;
    ScopedPlatform scopedPlatform;
    Item item;
};

}  // namespace

TEST_F(FilterItemDialogTest, ShowsTheItemUnderTheCallersTitle) {
    // Every label comes from the language file: a built-in text, or
    // another key's, would show instead of the German one.
    ScopedLanguage keep;
    Settings german;
    german.Language =
        pathToUtf8(fs::path(HARVIX_SOURCE_DIR) / "resources" / "Langs" / "German.lng");
    loadLanguage(theLanguage(), german);
    const LanguageTexts& texts = theLanguage();
    ASSERT_EQ(texts.Cancel, "Abbrechen");
    FilterItemDialog dialog(QStringLiteral("Add"), &item);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Add"));
    const std::pair<QString, std::string> shown[] = {
        {dialog.contentTypeLabel->text(), texts.FilterListContentType},
        {dialog.minSizeLabel->text(), texts.FilterListMinSize},
        {dialog.urlLabel->text(), texts.FilterListURL},
        {dialog.minWidthLabel->text(), texts.FilterListMinWidth},
        {dialog.minHeightLabel->text(), texts.FilterListMinHeight},
        {dialog.directoryLabel->text(), texts.FilterListDirectory},
        {dialog.stemLabel->text(), texts.FilterListFileNameDummy},
        {dialog.siteTree->text(), texts.FilterListSiteTree},
        {dialog.okButton->text(), texts.OK},
        {dialog.cancelButton->text(), texts.Cancel},
    };
    for (const auto& [text, expected] : shown) {
        EXPECT_EQ(text.toStdString(), expected);
    }

    QStringList listed;
    for (int i = 0; i < dialog.contentType->count(); ++i) {
        listed.append(dialog.contentType->itemText(i));
    }
    EXPECT_EQ(listed,
              (QStringList{"pictures", "videos", "sounds", "all", "jpg",  "gif",   "png",  "bmp",
                           "ico",      "webp",   "avif",   "svg", "flv",  "mpg",   "wmv",  "mp4",
                           "webm",     "swf",    "mp3",    "wav", "pdf",  "plain", "html", "xml",
                           "css",      "js",     "json",   "zip", "woff2"}));
    EXPECT_EQ(dialog.contentType->currentText(), QStringLiteral("jpg"));
    EXPECT_EQ(dialog.minSize->text(), QStringLiteral("2048"));
    EXPECT_EQ(dialog.url->text(), QStringLiteral("images, .example.org"));
    EXPECT_EQ(dialog.minWidth->text(), QStringLiteral("100"));
    EXPECT_EQ(dialog.minHeight->text(), QStringLiteral("80"));
    EXPECT_EQ(dialog.directoryTemplate->text(), QStringLiteral("/home/tester/HX_FILES"));
    EXPECT_EQ(dialog.stemEdit->text(), QStringLiteral("pic"));
    EXPECT_FALSE(dialog.siteTree->isChecked());
}

TEST_F(FilterItemDialogTest, OkWritesEveryFieldBack) {
    item.urlParts = {"images", ".example.org"};
    item.directory = "/home/tester/HX_FILES";
    bool accepted = false;
    const QString message = EditAndConfirm(
        [&](FilterItemDialog& dialog) {
            Choose(dialog.contentType, QStringLiteral("png"));
            Type(dialog.minSize, QStringLiteral("4096"));
            Type(dialog.url, QStringLiteral("cdn,thumbs"));
            Type(dialog.minWidth, QStringLiteral("640"));
            Type(dialog.minHeight, QStringLiteral("480"));
            Type(dialog.directoryTemplate, QStringLiteral("/data/pictures/%DATE%"));
            Type(dialog.stemEdit, QStringLiteral("shot"));
            dialog.siteTree->click();
        },
        &accepted);
    EXPECT_TRUE(message.isEmpty());
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(item.siteTree);
    EXPECT_EQ(item.contentType, 3);
    EXPECT_EQ(item.minSize, 4096);
    EXPECT_EQ(item.url, "cdn,thumbs");
    EXPECT_EQ(item.minWidth, 640);
    EXPECT_EQ(item.minHeight, 480);
    EXPECT_EQ(item.directoryTemplate, "/data/pictures/%DATE%");
    EXPECT_EQ(item.stem, "shot");
    // The URL parts and the expanded folder are made later, not here.
    EXPECT_EQ(item.urlParts, (std::vector<std::string>{"images", ".example.org"}));
    EXPECT_EQ(item.directory, "/home/tester/HX_FILES");
}

TEST_F(FilterItemDialogTest, EveryListedNameStoresItsOwnCode) {
    for (const int32_t code : contentTypeListOrder()) {
        SCOPED_TRACE(code);
        item.contentType = (code + 7) % 19;  // start elsewhere
        bool accepted = false;
        EditAndConfirm(
            [&](FilterItemDialog& dialog) {
                Choose(dialog.contentType, QString::fromStdString(contentTypeName(code)));
            },
            &accepted);
        EXPECT_TRUE(accepted);
        EXPECT_EQ(item.contentType, code);
    }
}

TEST_F(FilterItemDialogTest, MpgAndCodesOutsideTheTable) {
    item.contentType = 17;
    {
        FilterItemDialog dialog(QStringLiteral("Edit"), &item);
        EXPECT_EQ(dialog.contentType->currentText(), QStringLiteral("mpg"));
    }
    for (int32_t odd : {26, -1, 1000}) {
        item.contentType = odd;
        bool accepted = false;
        EditAndConfirm(
            [&](FilterItemDialog& dialog) {
                EXPECT_EQ(dialog.contentType->currentText(), QStringLiteral("all"));
            },
            &accepted);
        EXPECT_TRUE(accepted);
        EXPECT_EQ(item.contentType, 0);
    }
}

// Sizes as people write them; a value the editor cannot read is refused
// with a message naming the field, never read as some other number.
TEST_F(FilterItemDialogTest, SizesAreReadAsWrittenAndUnreadableValuesAreRefused) {
    const struct {
        const char* typed;
        std::optional<int32_t> stored;
    } sizes[] = {
        {"100k", 102400},        {"2 MB", 2000000},    {" 2048 ", 2048},     {"", 0},
        {"1.5M", 1572864},       {"10 KB", 10000},     {"2G", std::nullopt}, {"-5", std::nullopt},
        {"12abc", std::nullopt}, {"abc", std::nullopt}};
    for (const auto& c : sizes) {
        EXPECT_EQ(FilterItemDialog::readSize(QString::fromUtf8(c.typed)), c.stored) << c.typed;
    }
    EXPECT_EQ(FilterItemDialog::readPixels(QStringLiteral(" 640 ")), 640);
    EXPECT_EQ(FilterItemDialog::readPixels(QString()), 0);
    for (const char* bad : {"-50", "+7", "7px", "1.5", "99999999999"}) {
        EXPECT_EQ(FilterItemDialog::readPixels(QString::fromUtf8(bad)), std::nullopt) << bad;
    }

    bool accepted = false;
    EditAndConfirm(
        [&](FilterItemDialog& dialog) {
            Type(dialog.minSize, QStringLiteral("100k"));
            Type(dialog.minWidth, QString());
        },
        &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(item.minSize, 102400);
    EXPECT_EQ(item.minWidth, 0);

    const Item before = item;
    QString message = EditAndConfirm(
        [&](FilterItemDialog& dialog) { Type(dialog.minSize, QStringLiteral("100 kilo")); },
        &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(message.contains(QStringLiteral("100k, 2 MB"))) << message.toStdString();
    EXPECT_TRUE(SameItem(item, before));
    message = EditAndConfirm(
        [&](FilterItemDialog& dialog) { Type(dialog.minHeight, QStringLiteral("-50")); },
        &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(message.startsWith(QStringLiteral("Min Height (pixels): ")))
        << message.toStdString();
    EXPECT_TRUE(SameItem(item, before));
}

// With One Copy the editor says which earlier item takes the entries first,
// and follows the type and the URL as they are changed.
TEST_F(FilterItemDialogTest, SaysWhenAnEarlierItemTakesTheEntriesFirst) {
    FilterSet set;
    set.insertItem(nullptr, -1)->contentType = codeOf(ContentType::Sounds);
    FilterItem* pictures = set.insertItem(nullptr, -1);
    pictures->contentType = codeOf(ContentType::Pictures);
    pictures->url = "example";
    pictures->parseUrl(set);
    item.contentType = codeOf(ContentType::Webp);
    item.url = "img.example.org";
    FilterItemDialog dialog(QStringLiteral("Add"), &item, nullptr, ItemPlace{&set, 2, true});
    EXPECT_FALSE(dialog.takenNote->isHidden());
    EXPECT_EQ(
        dialog.takenNote->text(),
        QStringLiteral("With One Copy, the earlier item 2 (pictures) takes these entries first."));
    Type(dialog.url, QStringLiteral("elsewhere.org"));
    EXPECT_TRUE(dialog.takenNote->isHidden());
    Type(dialog.url, QStringLiteral("example.com"));
    EXPECT_FALSE(dialog.takenNote->isHidden());
    Choose(dialog.contentType, QStringLiteral("mp4"));
    EXPECT_TRUE(dialog.takenNote->isHidden());
    // First in the set, or without One Copy, nothing comes before it.
    FilterItemDialog first(QStringLiteral("Add"), &item, nullptr, ItemPlace{&set, 0, true});
    EXPECT_TRUE(first.takenNote->isHidden());
    FilterItemDialog every(QStringLiteral("Add"), &item, nullptr, ItemPlace{&set, 2, false});
    EXPECT_TRUE(every.takenNote->isHidden());
}

TEST_F(FilterItemDialogTest, FolderAndStemRulesRefuseWithAMessageAndKeepTheItem) {
    ScopedLanguage keep;
    theLanguage().ErrorDirectory = "Wrong folder.";
    const struct {
        const char* folder;
        bool local;
        bool passes;
        const char* reason = "";
    } cases[] = {
        {"/home/tester/pictures", true, true},
        {"~/pictures", true, true},
        {"/data/HX_FILES/%DATE%", true, true},
        {"/a", true, true},
        {"pictures", true, false, "The folder must be a full path that begins with / or ~/."},
        {"", true, false, "No folder is given."},
        {"/", true, false, "The root folder itself cannot hold the saved files."},
        {"/media/cdrom/x", false, false,
         "The folder lies on a network, removable or optical disk; choose one on a local disk."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        platform.localFolders = c.local;
        const Item before = item;
        bool accepted = false;
        const QString message = EditAndConfirm(
            [&](FilterItemDialog& dialog) {
                Type(dialog.directoryTemplate, QString::fromUtf8(c.folder));
                Type(dialog.stemEdit, QStringLiteral("changed"));
            },
            &accepted);
        EXPECT_EQ(accepted, c.passes);
        if (c.passes) {
            EXPECT_TRUE(message.isEmpty());
            EXPECT_EQ(item.directoryTemplate, c.folder);
            EXPECT_EQ(item.stem, "changed");
        } else {
            // The rule and the part of it the folder fails.
            EXPECT_EQ(message, QStringLiteral("Wrong folder.\n") + QString::fromUtf8(c.reason));
            EXPECT_TRUE(SameItem(item, before));
        }
        item = before;
    }
    // The stem: a backslash is an ordinary file-name character; a '/' would
    // make the name a path, and is refused the same way.
    platform.localFolders = true;
    const struct {
        const char* stem;
        bool passes;
    } stems[] = {{"a\\b", true}, {"\\", true}, {"dir/name", false}, {"/", false}};
    for (const auto& c : stems) {
        SCOPED_TRACE(c.stem);
        const Item before = item;
        bool accepted = false;
        const QString message = EditAndConfirm(
            [&](FilterItemDialog& dialog) {
                Type(dialog.directoryTemplate, QStringLiteral("~/pictures"));
                Type(dialog.stemEdit, QString::fromUtf8(c.stem));
            },
            &accepted);
        EXPECT_EQ(accepted, c.passes);
        if (c.passes) {
            EXPECT_TRUE(message.isEmpty());
            EXPECT_EQ(item.stem, c.stem);
        } else {
            EXPECT_EQ(message, QStringLiteral("Filename Dummy: /"));
            EXPECT_TRUE(SameItem(item, before));
        }
        item = before;
    }
}

TEST_F(FilterItemDialogTest, RefusedFolderLeavesTheDialogOpenForAnotherTry) {
    FilterItemDialog dialog(QStringLiteral("Edit"), &item);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Type(dialog.directoryTemplate, QStringLiteral("relative/folder"));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const Watch watch = WhenShown<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    EXPECT_TRUE(watch.Done());
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(item.directoryTemplate, "/home/tester/HX_FILES");

    Type(dialog.directoryTemplate, QStringLiteral("/home/tester/fixed"));
    QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item.directoryTemplate, "/home/tester/fixed");
}

TEST_F(FilterItemDialogTest, CancelEscapeAndCloseLeaveTheItemExactlyAsItWas) {
    item.urlParts = {"images", ".example.org"};
    const Item before = item;
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        FilterItemDialog dialog(QStringLiteral("Edit"), &item);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        Choose(dialog.contentType, QStringLiteral("zip"));
        Type(dialog.minSize, QStringLiteral("1"));
        Type(dialog.url, QStringLiteral("other"));
        Type(dialog.directoryTemplate, QStringLiteral("/elsewhere"));
        if (way == 0) {
            QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
        } else if (way == 1) {
            QTest::keyClick(dialog.url, Qt::Key_Escape);
        } else {
            dialog.close();
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(SameItem(item, before));
    }
}

TEST_F(FilterItemDialogTest, EnterInAnEditConfirms) {
    FilterItemDialog dialog(QStringLiteral("Edit"), &item);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Type(dialog.minWidth, QStringLiteral("320"));
    QTest::keyClick(dialog.minWidth, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item.minWidth, 320);
}

TEST_F(FilterItemDialogTest, BrowsePutsTheChosenFolderIntoTheFolderEdit) {
    TempDir temp;
    fs::create_directories(temp / "one");
    fs::create_directories(temp / "two");
    item.directoryTemplate = pathToUtf8(temp / "one");
    FilterItemDialog dialog(QStringLiteral("Edit"), &item);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QString openedOn;
    QString title;
    Watch watch = WhenShown<QFileDialog>([&](QFileDialog* chooser) {
        openedOn = chooser->directory().absolutePath();
        title = chooser->windowTitle();
        chooser->setDirectory(QString::fromStdString(pathToUtf8(temp / "two")));
        static_cast<QDialog*>(chooser)->accept();
    });
    QTest::mouseClick(dialog.directoryBrowse, Qt::LeftButton);
    EXPECT_EQ(openedOn, QString::fromStdString(pathToUtf8(temp / "one")));
    EXPECT_EQ(title, QStringLiteral("Browse a suitable folder:"));
    EXPECT_EQ(dialog.directoryTemplate->text(), QString::fromStdString(pathToUtf8(temp / "two")));
    // Only OK writes it into the item.
    EXPECT_EQ(item.directoryTemplate, pathToUtf8(temp / "one"));

    watch = WhenShown<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
    QTest::mouseClick(dialog.directoryBrowse, Qt::LeftButton);
    EXPECT_EQ(dialog.directoryTemplate->text(), QString::fromStdString(pathToUtf8(temp / "two")));
}

TEST_F(FilterItemDialogTest, TextsFollowTheLanguageFile) {
    ScopedLanguage keep;
    TempDir temp;
    Settings settings;
    settings.Language = pathToUtf8(fs::path(HARVIX_SOURCE_DIR) / "resources/Langs/German.lng");
    loadLanguage(theLanguage(), settings);
    FilterItemDialog dialog(Q(theLanguage().Add), &item);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Hinzufügen"));
    EXPECT_EQ(dialog.contentTypeLabel->text(), QStringLiteral("Inhaltstyp"));
    EXPECT_EQ(dialog.cancelButton->text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(dialog.directoryLabel->text(), QStringLiteral("Zielordner"));
}
