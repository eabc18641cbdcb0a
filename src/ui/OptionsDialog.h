// The options dialog: autostart, the progress window, the interface
// language, the watched browsers, the Firefox cache folder (with Find
// Cache), One Copy and Skip Duplicates, and the default target folder and
// file-name stem of new filter items. It shows the settings held in memory;
// OK writes every control back, switches the language when another one was
// chosen and saves the settings file. Cancel discards the changes.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

#include "engine/Browsers.h"

namespace harvix {

struct LanguageTexts;
struct Settings;

class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    // Works on the process-wide settings and language texts.
    explicit OptionsDialog(QWidget* parent = nullptr);
    OptionsDialog(Settings& settings, LanguageTexts& texts, QWidget* parent = nullptr);

    // Controls, in the order of the dialog.
    QGroupBox* mainGroup = nullptr;
    QCheckBox* startWithWindowsStartUp = nullptr;
    QCheckBox* showProgressBar = nullptr;
    QLabel* languageLabel = nullptr;
    QComboBox* languageList = nullptr;
    QGroupBox* browsersGroup = nullptr;
    // One box per browser of the browser table; the three named ones for
    // the tests.
    struct WatchBox {
        const BrowserRow* browser;
        QCheckBox* box;
    };
    std::vector<WatchBox> watchBoxes;
    // The box of the browser whose cache folder the user can name.
    QCheckBox* cacheFolderBox = nullptr;
    QCheckBox* watchBox(const std::string& settingsKey) const;
    QCheckBox* useWithIE = nullptr;
    QCheckBox* useWithMaxthon = nullptr;
    QCheckBox* useWithMozilla = nullptr;
    QPushButton* findCache = nullptr;
    QLabel* cacheFolderLabel = nullptr;
    QLineEdit* cacheFolderEdit = nullptr;
    QPushButton* cacheFolderBrowse = nullptr;
    QGroupBox* filtersGroup = nullptr;
    QCheckBox* oneCopy = nullptr;
    QCheckBox* skipDuplicates = nullptr;
    QLabel* defaultFolderLabel = nullptr;
    QLineEdit* defaultFolderEdit = nullptr;
    QPushButton* defaultFolderBrowse = nullptr;
    QLabel* fileNameLabel = nullptr;
    QLineEdit* fileNameEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

    // The language files found, in list order.
    struct Language {
        std::string languageName;
        std::string languagePath;
    };
    std::vector<Language> languages;

public slots:
    void accept() override;
    // Fills the cache-folder edit with the folder of the first Firefox
    // profile; an error box tells when its cache cannot be opened.
    void findFirefoxCache();

private:
    void buildControls();
    void initialise();
    void fillLanguageList();
    void updateFirefoxControls();
    void browseInto(QLineEdit* edit);
    void openHelp();

    Settings& settings_;
    LanguageTexts& texts_;
};

}  // namespace harvix
