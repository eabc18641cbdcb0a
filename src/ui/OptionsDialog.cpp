#include "ui/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ErrorText.h"
#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "ui/DialogButtons.h"
#include "ui/FolderChooser.h"
#include "ui/Notifier.h"
#include "ui/ProgramState.h"

namespace harvix {

namespace {

QString qtText(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QPushButton* makeBrowseButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    const int side = button->fontMetrics().height() + 12;
    button->setFixedWidth(side + 6);
    return button;
}

QLineEdit* makeEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// Sets an edit's text and shows its beginning (a long path would otherwise
// show only its end).
void showFromStart(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    edit->setCursorPosition(0);
}

// The text of a browser's box: its row's language text, else "Use with"
// and its name.
std::string watchText(const LanguageTexts& texts, const BrowserRow& row) {
    const std::string& text = texts.byKey(row.watchTextKey);
    return text.empty() ? "Use with " + texts.browserName(row) : text;
}

QCheckBox* makeCheck(QWidget* parent, const char* name) {
    auto* box = new QCheckBox(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

}  // namespace

OptionsDialog::OptionsDialog(QWidget* parent)
    : OptionsDialog(theSettings(), theLanguage(), parent) {}

OptionsDialog::OptionsDialog(Settings& settings, LanguageTexts& texts, QWidget* parent)
    : QDialog(parent), settings_(settings), texts_(texts) {
    setObjectName(QStringLiteral("optionsDialog"));
    buildControls();
    initialise();
}

void OptionsDialog::buildControls() {
    // Main: autostart, progress window, language.
    mainGroup = new QGroupBox(this);
    mainGroup->setObjectName(QStringLiteral("mainGroup"));
    startWithWindowsStartUp = makeCheck(mainGroup, "startWithWindowsStartUp");
    showProgressBar = makeCheck(mainGroup, "showProgressBar");
    languageLabel = new QLabel(mainGroup);
    languageList = new QComboBox(mainGroup);
    languageList->setObjectName(QStringLiteral("languageList"));
    languageList->setEditable(false);
    languageList->setMinimumContentsLength(14);
    languageList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    languageLabel->setBuddy(languageList);
    auto* mainLayout = new QGridLayout(mainGroup);
    mainLayout->addWidget(startWithWindowsStartUp, 0, 0, 1, 2);
    mainLayout->addWidget(showProgressBar, 1, 0, 1, 2);
    mainLayout->addWidget(languageLabel, 2, 0, 1, 2);
    mainLayout->addWidget(languageList, 3, 0);
    mainLayout->setColumnStretch(1, 1);

    // Browsers: a box per browser of the browser table, and the cache
    // folder of the one whose folder the user can name. Browsers without
    // such a folder come first; the one with it last, beside Find Cache and
    // above its folder.
    browsersGroup = new QGroupBox(this);
    browsersGroup->setObjectName(QStringLiteral("browsersGroup"));
    for (const bool withFolder : {false, true}) {
        for (const BrowserRow& browser : browserTable()) {
            if (browser.hasCacheFolderOption != withFolder) {
                continue;
            }
            const std::string name = "useWith" + browser.watchSettingsKey;
            auto* box = makeCheck(browsersGroup, name.c_str());
            watchBoxes.push_back(WatchBox{&browser, box});
            if (browser.hasCacheFolderOption && cacheFolderBox == nullptr) {
                cacheFolderBox = box;
            }
        }
    }
    useWithIE = watchBox("IE");
    useWithMaxthon = watchBox("Maxthon");
    useWithMozilla = watchBox("Mozilla");
    findCache = new QPushButton(browsersGroup);
    findCache->setObjectName(QStringLiteral("findCache"));
    findCache->setAutoDefault(false);
    cacheFolderLabel = new QLabel(browsersGroup);
    cacheFolderEdit = makeEdit(browsersGroup, "cacheFolderEdit");
    cacheFolderBrowse = makeBrowseButton(browsersGroup, "cacheFolderBrowse");
    cacheFolderLabel->setBuddy(cacheFolderEdit);
    auto* browsersLayout = new QGridLayout(browsersGroup);
    int row = 0;
    for (const WatchBox& watch : watchBoxes) {
        if (watch.box != cacheFolderBox) {
            browsersLayout->addWidget(watch.box, row++, 0, 1, 3);
        }
    }
    if (cacheFolderBox != nullptr) {
        browsersLayout->addWidget(cacheFolderBox, row, 0, 1, 1);
        browsersLayout->addWidget(findCache, row++, 1, 1, 2, Qt::AlignRight);
        browsersLayout->addWidget(cacheFolderLabel, row++, 0, 1, 3);
        browsersLayout->addWidget(cacheFolderEdit, row, 0, 1, 2);
        browsersLayout->addWidget(cacheFolderBrowse, row++, 2);
    } else {
        for (QWidget* unused :
             {static_cast<QWidget*>(findCache), static_cast<QWidget*>(cacheFolderLabel),
              static_cast<QWidget*>(cacheFolderEdit), static_cast<QWidget*>(cacheFolderBrowse)}) {
            unused->hide();
        }
    }
    browsersLayout->setColumnStretch(0, 1);

    // Filters: One Copy, Skip Duplicates and what new filter items start with.
    filtersGroup = new QGroupBox(this);
    filtersGroup->setObjectName(QStringLiteral("filtersGroup"));
    oneCopy = makeCheck(filtersGroup, "oneCopy");
    skipDuplicates = makeCheck(filtersGroup, "skipDuplicates");
    defaultFolderLabel = new QLabel(filtersGroup);
    defaultFolderEdit = makeEdit(filtersGroup, "defaultFolderEdit");
    defaultFolderBrowse = makeBrowseButton(filtersGroup, "defaultFolderBrowse");
    fileNameLabel = new QLabel(filtersGroup);
    fileNameEdit = makeEdit(filtersGroup, "fileNameEdit");
    defaultFolderLabel->setBuddy(defaultFolderEdit);
    fileNameLabel->setBuddy(fileNameEdit);
    auto* filtersLayout = new QGridLayout(filtersGroup);
    filtersLayout->addWidget(oneCopy, 0, 0, 1, 3);
    filtersLayout->addWidget(skipDuplicates, 1, 0, 1, 3);
    filtersLayout->addWidget(defaultFolderLabel, 2, 0, 1, 3);
    filtersLayout->addWidget(defaultFolderEdit, 3, 0, 1, 2);
    filtersLayout->addWidget(defaultFolderBrowse, 3, 2);
    filtersLayout->addWidget(fileNameLabel, 4, 0, 1, 3);
    filtersLayout->addWidget(fileNameEdit, 5, 0);
    filtersLayout->setColumnStretch(0, 1);
    filtersLayout->setColumnStretch(1, 1);

    auto* buttons = makeOkCancelButtons(this, okButton, cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mainGroup);
    layout->addWidget(browsersGroup);
    layout->addWidget(filtersGroup);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Room for a typical cache path; the dialog keeps the size its contents ask for.
    cacheFolderEdit->setMinimumWidth(fontMetrics().averageCharWidth() * 50);

    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
    if (cacheFolderBox != nullptr) {
        connect(cacheFolderBox, &QCheckBox::toggled, this, &OptionsDialog::updateFirefoxControls);
    }
    connect(findCache, &QPushButton::clicked, this, &OptionsDialog::findFirefoxCache);
    connect(cacheFolderBrowse, &QPushButton::clicked, this,
            [this] { browseInto(cacheFolderEdit); });
    connect(defaultFolderBrowse, &QPushButton::clicked, this,
            [this] { browseInto(defaultFolderEdit); });
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &OptionsDialog::openHelp);
}

void OptionsDialog::initialise() {
    setWindowTitle(qtText(texts_.OptTitle));
    mainGroup->setTitle(qtText(texts_.OptMain));
    startWithWindowsStartUp->setText(qtText(texts_.OptStartWithWindowsStartUp));
    showProgressBar->setText(qtText(texts_.ShowProgressBar));
    languageLabel->setText(qtText(texts_.OptLanguage));
    browsersGroup->setTitle(qtText(texts_.OptBrowsers));
    for (const WatchBox& watch : watchBoxes) {
        watch.box->setText(qtText(watchText(texts_, *watch.browser)));
    }
    findCache->setText(qtText(texts_.OptFindMozillaCache));
    cacheFolderLabel->setText(qtText(texts_.OptMozillaCachePath));
    filtersGroup->setTitle(qtText(texts_.OptFilters));
    oneCopy->setText(qtText(texts_.OptOneCopy));
    skipDuplicates->setText(qtText(texts_.OptSkipDuplicates));
    defaultFolderLabel->setText(qtText(texts_.OptDefaultCombPath));
    fileNameLabel->setText(qtText(texts_.OptDefaultFileNameDummy));
    okButton->setText(qtText(texts_.OK));
    cancelButton->setText(qtText(texts_.Cancel));

    startWithWindowsStartUp->setChecked(settings_.StartWithWindowsStartUp);
    showProgressBar->setChecked(settings_.ShowNotifyProgressBar);
    for (const WatchBox& watch : watchBoxes) {
        watch.box->setChecked(settings_.watches(*watch.browser));
    }
    showFromStart(cacheFolderEdit, qtText(settings_.MozillaCachePath));
    oneCopy->setChecked(settings_.OneCopy);
    skipDuplicates->setChecked(settings_.SkipDuplicates);
    showFromStart(defaultFolderEdit, qtText(settings_.DefaultCombPath));
    showFromStart(fileNameEdit, qtText(settings_.DefaultFileNameDummy));

    fillLanguageList();
    updateFirefoxControls();
}

void OptionsDialog::fillLanguageList() {
    languageList->clear();
    languages.clear();
    // listLanguages also puts the first language into the setting when the
    // setting names none of the files found; that correction stays even
    // when the dialog is cancelled.
    const LanguageList found = listLanguages(settings_);
    for (const auto& [name, path] : found.entries) {
        languages.push_back(Language{name, pathToUtf8(path)});
        // A file without a language name is shown by its file name, so that
        // its line in the list is not blank.
        const QString shown =
            name.empty() ? QFileInfo(qtText(pathToUtf8(path))).completeBaseName() : qtText(name);
        languageList->addItem(shown, qtText(pathToUtf8(path)));
    }
    languageList->setCurrentIndex(found.current);
}

void OptionsDialog::updateFirefoxControls() {
    const bool on = cacheFolderBox != nullptr && cacheFolderBox->isChecked();
    findCache->setEnabled(on);
    cacheFolderEdit->setEnabled(on);
    cacheFolderBrowse->setEnabled(on);
}

QCheckBox* OptionsDialog::watchBox(const std::string& settingsKey) const {
    for (const WatchBox& watch : watchBoxes) {
        if (watch.browser->watchSettingsKey == settingsKey) {
            return watch.box;
        }
    }
    return nullptr;
}

void OptionsDialog::findFirefoxCache() {
    // A fresh reader with no folder: opening it finds the first profile's
    // cache folder. A failure to open is told in its error box.
    QString folder;
    for (const WatchBox& watch : watchBoxes) {
        if (watch.box != cacheFolderBox) {
            continue;
        }
        std::unique_ptr<CacheReader> reader = watch.browser->reader(platformServices(), {});
        if (reader == nullptr) {
            break;
        }
        if (const auto failed = openCache(*reader); failed && showsErrorBox(*failed)) {
            showMessage(errorBoxText(*failed, texts_, watch.browser), MessageIcon::Error,
                        MessageButtons::Ok);
        }
        folder = qtText(reader->cacheLocation());
        reader->close();
    }
    cacheFolderEdit->setText(folder);
    cacheFolderEdit->selectAll();
    cacheFolderEdit->setFocus(Qt::OtherFocusReason);
}

void OptionsDialog::browseInto(QLineEdit* edit) {
    QString chosen;
    if (browseForFolder(this, edit->text(), qtText(texts_.BrowseDirectory), chosen) ==
        kFolderChosen) {
        showFromStart(edit, chosen);
    }
}

void OptionsDialog::openHelp() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(qtText(pathToUtf8(settings_.helpPath))));
}

void OptionsDialog::accept() {
    settings_.StartWithWindowsStartUp = startWithWindowsStartUp->isChecked();
    settings_.ShowNotifyProgressBar = showProgressBar->isChecked();
    for (const WatchBox& watch : watchBoxes) {
        settings_.setWatches(*watch.browser, watch.box->isChecked());
    }
    settings_.MozillaCachePath = cacheFolderEdit->text().toStdString();
    settings_.OneCopy = oneCopy->isChecked();
    settings_.SkipDuplicates = skipDuplicates->isChecked();
    settings_.DefaultCombPath = defaultFolderEdit->text().toStdString();
    settings_.DefaultFileNameDummy = fileNameEdit->text().toStdString();

    const int chosen = languageList->currentIndex();
    if (chosen >= 0 && chosen < static_cast<int>(languages.size())) {
        settings_.Language = languages[static_cast<std::size_t>(chosen)].languagePath;
        loadLanguage(texts_, settings_);
    }
    settings_.saveSettings();
    QDialog::accept();
}

}  // namespace harvix
