// The cache window: one browser cache as a table the user can sort and
// search (its header's menu shows and hides columns), a preview of the
// selected entry, and the chosen entries saved into a folder with the comb's
// own copy step or written into a web archive. The reading and the saving run on
// worker threads: rows appear as they arrive, a save shows its count, and
// both can be cancelled.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "ui/CacheSources.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;

namespace harvix {

class CacheEntryFilter;
class CacheEntryModel;
class CacheLoader;
class EntryPreview;
class EntrySaver;
struct CacheEntry;
struct LanguageTexts;

class CacheWindow : public QWidget {
    Q_OBJECT

public:
    // `sources`: the caches to offer (findCacheSources() in the program);
    // `stem` the file-name stem offered for saving, `skipDuplicates` as the
    // options say.
    CacheWindow(std::vector<CacheSource> sources, const LanguageTexts& texts, QString stem,
                bool skipDuplicates, QWidget* parent = nullptr);
    ~CacheWindow() override;

    // Reads the cache of source `index` (the browser and profile picked).
    void readSource(int index);
    // Starts saving the selected entries into `folder` on a worker, with
    // the count in the status line and Cancel; says what happened when it
    // ends (saveFinished). False when nothing is to be saved or a save runs.
    bool saveSelectedTo(const QString& folder);
    // Starts writing the selected entries into the new web archive `file`
    // on a worker, as `harvix-cli export` does; says what happened when it
    // ends (exportFinished). False when nothing is to be written or a save
    // or an export runs.
    bool exportSelectedTo(const QString& file);
    // The menu of the table's header: one check item per column but the URL.
    QMenu* columnMenu();
    // The columns shown, by their stored names (CacheEntryModel::columnName),
    // separated by commas, the URL first; and showing exactly those named
    // (names it does not know are passed over; an empty text keeps the
    // columns as they are).
    QString shownColumns() const;
    void showColumns(const QString& names);
    // The texts of the window (also when the language changes).
    void applyTexts(const LanguageTexts& texts);
    void setSkipDuplicates(bool skip) { skipDuplicates_ = skip; }

    // The entries of the selected rows, in the table's order.
    std::vector<const CacheEntry*> selectedEntries() const;

    // For the tests and the screenshot.
    QTableView* table() const { return table_; }
    CacheEntryFilter* filter() const { return filter_; }
    CacheEntryModel* model() const { return model_; }
    CacheLoader* loader() const { return loader_; }
    EntrySaver* saver() const { return saver_; }
    EntryPreview* preview() const { return preview_; }
    QLineEdit* searchField() const { return search_; }
    QComboBox* typeFilter() const { return type_; }
    QLineEdit* stemField() const { return stem_; }
    QComboBox* browserPicker() const { return browser_; }
    QComboBox* profilePicker() const { return profile_; }
    QPushButton* exportButton() const { return export_; }
    QString statusText() const;

signals:
    // "Make filter item": the host of the selected entry's URL and its
    // content-type code, for a new item in the filter editor.
    void filterItemRequested(const QString& host, int contentType);
    // A save ended with `saved` new files.
    void saveFinished(int saved);
    // An export ended with `records` responses archived in `path`
    // (empty when no archive was written).
    void exportFinished(const QString& path, qulonglong records);
    // The user showed or hid a column (shownColumns() tells which are shown).
    void columnsChanged();

private:
    void fillProfiles();
    void showPickedFolder();
    void readPicked();
    void onEntriesAdded(std::size_t first, std::size_t count);
    void onFinished(bool cancelled, const QString& error);
    void onSaveProgress(qulonglong done, qulonglong total);
    void onSaveFinished(int saved, int duplicates, int failed, int cancelled, const QString& error);
    void onCurrentChanged();
    void saveSelected();
    void exportSelected();
    void onExported(const QString& path, qulonglong records, qulonglong leftOut, qulonglong failed,
                    const QString& error);
    void makeFilterItem();
    void updateButtons();
    const CacheEntry* entryAt(int proxyRow) const;

    std::vector<CacheSource> sources_;
    bool skipDuplicates_ = true;
    QString title_, savedText_, duplicateText_, failedText_, entriesText_, readingText_,
        cancelledText_, noCacheText_, savingText_, saveCancelledText_, exportingText_,
        exportedText_, exportLeftOutText_;
    QString source_;      // the source read last, for the title
    QString saveFolder_;  // the folder of the save under way
    QLabel* browserLabel_ = nullptr;
    QLabel* profileLabel_ = nullptr;
    QLabel* typeLabel_ = nullptr;
    QLabel* fileNameLabel_ = nullptr;
    EntrySaver* saver_ = nullptr;
    QComboBox* browser_ = nullptr;
    QComboBox* profile_ = nullptr;
    QPushButton* read_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLineEdit* search_ = nullptr;
    QComboBox* type_ = nullptr;
    QTableView* table_ = nullptr;
    EntryPreview* preview_ = nullptr;
    QLineEdit* stem_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* makeItem_ = nullptr;
    QPushButton* export_ = nullptr;
    QMenu* columnMenu_ = nullptr;
    QLabel* status_ = nullptr;
    CacheEntryModel* model_ = nullptr;
    CacheEntryFilter* filter_ = nullptr;
    CacheLoader* loader_ = nullptr;
};

}  // namespace harvix
